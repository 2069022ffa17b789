// libtessera's own sources (card operations, reader session) are listed
// beside this file in client/CMakeLists.txt; until they arrive the library
// consists of the tool unit alone, and this file keeps the list non-empty.
