#include "formats/image_decoder.h"

bool DecodeDriveImage(ToolState&, bool) { return true; }
bool DecodeHidImage(ToolState&, bool) { return true; }
