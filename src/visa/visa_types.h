// SPDX-License-Identifier: MIT
#pragma once
// The published VISA C types and the status and attribute values the program uses (Linux x86-64).
#include <cstdint>

namespace kalivor::visa {

using ViUInt32 = unsigned int;
using ViInt32 = int;
using ViStatus = ViInt32;  // signed: errors are negative, success and warnings >= 0
using ViObject = ViUInt32;
using ViSession = ViObject;  // 32-bit handles, not pointers
using ViFindList = ViObject;
using ViAttr = ViUInt32;
using ViAccessMode = ViUInt32;
using ViAttrState = std::uint64_t;  // 64-bit on 64-bit builds
static_assert(sizeof(void*) != 8 || sizeof(ViAttrState) == 8);

inline constexpr ViStatus VI_SUCCESS = 0;
inline constexpr ViStatus VI_SUCCESS_TERM_CHAR = 0x3FFF0005;
inline constexpr ViStatus VI_SUCCESS_MAX_CNT = 0x3FFF0006;
inline constexpr ViStatus VI_ERROR_SYSTEM_ERROR = static_cast<ViStatus>(0xBFFF0000u);
inline constexpr ViStatus VI_ERROR_INV_OBJECT = static_cast<ViStatus>(0xBFFF000Eu);
inline constexpr ViStatus VI_ERROR_INV_EXPR = static_cast<ViStatus>(0xBFFF0010u);
inline constexpr ViStatus VI_ERROR_RSRC_NFOUND = static_cast<ViStatus>(0xBFFF0011u);
inline constexpr ViStatus VI_ERROR_INV_RSRC_NAME = static_cast<ViStatus>(0xBFFF0012u);
inline constexpr ViStatus VI_ERROR_TMO = static_cast<ViStatus>(0xBFFF0015u);
inline constexpr ViStatus VI_ERROR_RSRC_BUSY = static_cast<ViStatus>(0xBFFF0072u);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR = static_cast<ViStatus>(0xBFFF001Du);
inline constexpr ViStatus VI_ERROR_NSUP_ATTR_STATE = static_cast<ViStatus>(0xBFFF001Eu);
inline constexpr ViStatus VI_ERROR_IO = static_cast<ViStatus>(0xBFFF003Eu);
inline constexpr ViStatus VI_ERROR_CONN_LOST = static_cast<ViStatus>(0xBFFF00A6u);
inline constexpr ViStatus VI_ERROR_LIBRARY_NFOUND = static_cast<ViStatus>(0xBFFF009Eu);
inline constexpr ViStatus VI_ERROR_ALLOC = static_cast<ViStatus>(0xBFFF003Cu);

inline constexpr ViAttr VI_ATTR_TMO_VALUE = 0x3FFF001A;
inline constexpr ViUInt32 VI_TMO_INFINITE = 0xFFFFFFFFu;
inline constexpr ViUInt32 VI_NULL = 0;
inline constexpr ViUInt32 VI_FIND_BUFLEN = 256;

// Success and warnings are >= 0.
constexpr bool succeeded(ViStatus s) { return s >= 0; }

}  // namespace kalivor::visa
