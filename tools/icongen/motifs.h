// The four pictures of the library, each drawn afresh for every pixel size so
// that small sizes get fewer, grid-aligned details instead of a blurred
// reduction of the large one.
#pragma once

#include "raster.h"

namespace icongen {

Image DrawSerialPort(int size);   // DE-9 plug seen from the front
Image DrawGlobe(int size);        // saved TCP connection
Image DrawNewDocument(int size);  // the manage entry: document with a green plus
Image DrawTerminal(int size);     // the library file: screen with green text over a keyboard

}  // namespace icongen
