// SPDX-License-Identifier: MIT
#pragma once
// kalivor-cli run in-process: a data folder of the test's own and the two streams. Every command
// runs on a fresh manual clock from the same moment, so the same command line gives the same
// conversation whatever ran before.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "common/clock.h"
#include "store/store_fixture.h"

namespace kalivor::testing {

struct CliFixture : ::testing::Test {
  store::test::TempDataFolder folder;
  std::ostringstream out, err;

  int cli(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    ManualClock clock;
    return runCli(args, out, err, clock);
  }
};

}  // namespace kalivor::testing
