// Where the install descriptor's fixed 100-byte header keeps each field.
// Every number in the file is little-endian.
#pragma once

#include <cstdint>

namespace cab::layout {

constexpr uint32_t kHeaderSize = 100;
constexpr uint32_t kSignature = 0;  // "MSCE"
constexpr uint32_t kFileLength = 8;
constexpr uint32_t kUsuallyOne = 16;  // of unknown purpose; every descriptor seen holds 1
constexpr uint32_t kProcessor = 20;
constexpr uint32_t kMinMajor = 24;
constexpr uint32_t kMinMinor = 28;
constexpr uint32_t kMaxMajor = 32;
constexpr uint32_t kMaxMinor = 36;
constexpr uint32_t kMinBuild = 40;
constexpr uint32_t kMaxBuild = 44;
constexpr uint32_t kCounts = 48;          // one 16-bit count per section
constexpr uint32_t kSectionOffsets = 60;  // one 32-bit offset per section
// 16-bit offset and 16-bit length (its NUL included) of each header string.
constexpr uint32_t kAppName = 84;
constexpr uint32_t kProvider = 88;
constexpr uint32_t kUnsupported = 92;

// The sections in the order of their counts and offsets.
enum Section { kStrings, kDirectories, kFiles, kKeys, kValues, kShortcuts, kSectionCount };

constexpr uint32_t kSignatureValue = 0x4543534D;

}  // namespace cab::layout
