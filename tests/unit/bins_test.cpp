// The app's side of the store: each store status told as its message and
// exit code, and the Reading line naming the file a load reads first.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/bins.h"
#include "app/runstate.h"
#include "support/run.h"

namespace {

std::string Captured(void (*run)()) {
    testing::internal::CaptureStdout();
    run();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

StoreStatus sStatus = STORE_OK;
int32_t sExpectedCode = 0;

TEST(Bins, EachStatusIsToldWithItsMessageAndExitCode) {
    const struct {
        StoreStatus status;
        int32_t exitCode;
        std::string message;
    } rows[] = {
        {STORE_OK, EXIT_OK, ""},
        {STORE_NO_MEMORY, EXIT_NO_MEMORY, "Error: Not enough memory.\n"},
        {STORE_READ_FAILED, EXIT_READ_FAILED, "Error: Reading the data in the Recycle Bin (C:\\bin) failed.\n"},
        {STORE_BUSY, EXIT_BIN_BUSY,
         "Error: The Recycle Bin (C:\\bin) is in use by another program. Nothing was changed; please "
         "try again later.\n"},
    };
    testrun::StartRun(WIDE("C:\\bin"), FORMAT_INFO2);
    for (const auto& row : rows) {
        SCOPED_TRACE((int)row.status);
        sStatus = row.status;
        sExpectedCode = row.exitCode;
        gRun.exitCode = 7;
        // Printing alone leaves the run's exit code; reporting sets it.
        EXPECT_EQ(Captured([] { EXPECT_EQ(PrintStoreFailure(sStatus, gRun.bin.path), sExpectedCode); }), row.message);
        EXPECT_EQ(gRun.exitCode, 7);
        EXPECT_EQ(Captured([] { ReportStoreFailure(sStatus, gRun.bin.path); }), row.message);
        EXPECT_EQ(gRun.exitCode, row.exitCode);
    }
    testrun::ClearRun();
}

TEST(Bins, ReadingNamesTheIndexOrTheItemFolder) {
    const struct {
        BinFormat format;
        std::string line;
    } rows[] = {
        {FORMAT_INFO, "Reading: C:\\bin\\INFO ...\n"},
        {FORMAT_INFO2, "Reading: C:\\bin\\INFO2 ...\n"},
        {FORMAT_ITEM_FILES, "Reading: C:\\bin ...\n"},
        {FORMAT_NONE, ""},
    };
    for (const auto& row : rows) {
        testrun::StartRun(WIDE("C:\\bin"), row.format);
        EXPECT_EQ(Captured([] { PrintReading(&gRun.bin); }), row.line);
    }
    testrun::ClearRun();
}

}  // namespace
