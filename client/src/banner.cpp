// The version banner. libhidlink exports a banner under the same name, so a
// program that loads both sees one of them (the first library loaded);
// this file is built without AddressSanitizer, whose one-definition check
// would otherwise stop every such program in a sanitizer build.
#include "tessera.h"

const char *LIB_INFO = "libtessera version: 1.0.1 (2022-11-08, 10:30)";
