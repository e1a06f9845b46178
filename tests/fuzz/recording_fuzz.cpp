// SPDX-License-Identifier: GPL-3.0-or-later
// The recording reader on any file: opening either fails with a reason or gives a source that
// can be read to its end without a crash, and every read gives no more samples than asked for.
// Input: the bytes of the file (WAV, FLAC or anything libsndfile takes).
#include <cstdint>
#include <fstream>
#include <string>

#include "capture/recording_source.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::RunFolder() + "/input";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::string error;
  std::unique_ptr<RecordingSource> source = RecordingSource::Open(path, error);
  if (source == nullptr) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  // A minute of 8000 Hz audio at most: small inputs may claim long recordings.
  int16_t block[1000];
  for (size_t total = 0; total < 8000 * 60;) {
    const size_t n = source->Read(block, 1000);
    FUZZ_CHECK(n <= 1000);
    if (n == 0) break;
    total += n;
  }
  return 0;
}
