#include <cstdio>

int main(int argc, char** argv) {
  std::puts("kalivor-cli");
  return 0;
}
