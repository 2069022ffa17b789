// libportico's own sources (reader selection, APDU routing, ID card
// reading) are listed beside this file in hub/CMakeLists.txt; until they
// arrive the library consists of the tool unit alone, and this file keeps
// the list non-empty.
