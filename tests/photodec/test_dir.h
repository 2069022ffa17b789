// Runs the test program inside a fresh temporary directory, so that the
// "zp.bmp" written in the current directory neither litters nor collides.
#pragma once

#include <string>

namespace facet_test {

// The temporary directory the program runs in.
const std::string& TestDir();

}  // namespace facet_test
