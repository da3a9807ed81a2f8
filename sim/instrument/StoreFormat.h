// The layout of the instrument's store file (VANTOREL_SIM_STORE), shared by
// its writer and its reader.
//
// All numbers are little-endian. The file is a 24-byte header followed by the
// payload:
//   header:  8 bytes magic "VSIMSTOR", u32 version (1), u32 zlib crc32 of the
//            payload, u64 payload size (the rest of the file, exactly)
//   payload: u32 job count, then per job, in list order:
//            i32 version; text identifier (not empty); u32 tag count, per tag
//            text name, text value; u32 display tag count, per display tag
//            text name, u32 code unit count, that many u32 code units;
//            i32 sample count; text comment; text reference name;
//            i32 planned sample count; i32 state code; u32 measured count,
//            per measured sample (ascending, distinct indices below the
//            sample count): i32 index, i64 UTC ms of the measurement,
//            11 x 31 f32 reflectances, 11 x 3 f32 L*a*b*, 6 x (u32 byte count,
//            that many EXR bytes)
//   text:    u32 byte count, that many bytes
// Counts and lengths are bounded by the limits of JobRecord.h; floats are
// finite; nothing may follow the last job.
//
// Threads: constants only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace instrument {

inline constexpr char kStoreMagic[8] = {'V', 'S', 'I', 'M', 'S', 'T', 'O', 'R'};
inline constexpr std::uint32_t kStoreVersion = 1;
inline constexpr std::size_t kStoreHeaderSize = 24;

}  // namespace instrument
