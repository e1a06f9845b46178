// The list of simulated stations.
#include "simulator/dcf77_code.h"
#include "simulator/encoder.h"

std::unique_ptr<StationEncoder> MakeEncoder(const std::string& station) {
  if (station == "dcf77") return MakeDcf77Encoder();
  return nullptr;
}
