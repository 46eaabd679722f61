#pragma once
// Where the tests and benchmarks find the tree's files and the programs the
// build made. The values live in one source the build writes into its own
// folder (test_paths.cpp), so that no test object holds the folder the tree
// was cloned into and a fresh clone compiles them from the cache.

namespace test_support {

extern const char* const kResourceDir;        // resources/: sample profile, firmware, chip list
extern const char* const kBinaryDir;          // the build folder
extern const char* const kLinetoolCli;        // the built linetool-cli
extern const char* const kChipList;           // the readable chip list the database is made from
extern const char* const kChipDb;             // the chip database the build made from it
extern const char* const kRomwrightTestData;  // romwright/chips/tests/data
extern const char* const kProfileTestData;    // linetool/profile/tests/data
extern const char* const kSimTestData;        // sim/station/tests/data

}  // namespace test_support
