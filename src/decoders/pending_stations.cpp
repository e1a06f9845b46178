// Stations whose decoders are not in this build yet: their blocks still run the front end,
// but nothing is decoded. StationSupported tells the tools which ones these are.
#include "app/varnol_doc.h"

void CVarnolDoc::DecodeMsf() {}
void CVarnolDoc::DecodeHbg() {}
void CVarnolDoc::DecodeWwvb() {}
void CVarnolDoc::DecodeVng() {}
void CVarnolDoc::DetectRwmMark() {}
void CVarnolDoc::SnapToMinuteMark() {}
void CVarnolDoc::DecodeWwv() {}

bool StationSupported(int station_mode) { return station_mode == StationDcf77; }
