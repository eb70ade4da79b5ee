// Barcode commands: the exact header of every symbology, the normalisation of
// its fields, and data of any length.
#include <algorithm>
#include <climits>
#include <string>

#include "command_rows.h"
#include "log_records.h"
#include "memory_limit.h"

namespace {

using vren::test::CommandRow;
using vren::test::expectAppended;

class BarcodeTest : public vren::test::ComposeTest {};

TEST_F(BarcodeTest, OneCallOfEachSymbology) {
    expectAppended({
        /* 1 */ {[] { return Print1DBarcode("12345", 50, 100, 1, 2, 6, 100, 1, 0); }, "B150,100,1,2,6,100,0,0,'12345'\r"},
        /* 2 */ {[] { return PrintMaxiCode("ABC", 10, 20, 2); }, "B210,20,M,2,'ABC'\r"},
        /* 3 */ {[] { return PrintPDF417("ABC", 10, 20, 2, 40, 3, 1, 1, 7, 3, 10, 0); }, "B210,20,P,30,5,3,1,1,1,3,10,0,'ABC'\r"},
        /* 4 */ {[] { return PrintQRCode("ABC", 100, 50, 2, 1, 3, 0); }, "B2100,50,Q,2,M,3,0,'ABC'\r"},
        /* 5 */ {[] { return PrintDataMatrix("ABC", 10, 20, 3, 1, 1); }, "B210,20,D,3,R,1,'ABC'\r"},
        /* 6 */ {[] { return PrintAztec("ABC", 10, 20, 4, 1, 23, 0, 0, 5, 2); }, "B210,20,A,4,1,23,0,15,5,2,'ABC'\r"},
        /* 7 */ {[] { return PrintCode49("ABC", 10, 20, 2, 4, 50, 1, 3, 9); }, "B210,20,F,2,4,50,1,3,0,'ABC'\r"},
        /* 8 */ {[] { return PrintCODABLOCK("ABC", 10, 20, 2, 4, 50, 1, 8, 2, 4); }, "B210,20,C,2,4,50,1,8,F,4,0,'ABC'\r"},
        /* 9 */ {[] { return PrintMicroPDF("ABC", 10, 20, 4, 100, 7, 1); }, "B210,20,B,4,50,7,1,'ABC'\r"},
        /* 10 */ {[] { return PrintGS1DataBar("(01)12345678901231", 10, 20, 6, 2, 2, 0, 7, 1); },
                  "B310,20,R,5,2,2,0,6,1,'(01)12345678901231'\r"},
    });
}

TEST_F(BarcodeTest, FieldsOutOfRangeTakeTheirDefaults) {
    expectAppended({
        // One-dimensional: field 3 0..16 else 1; field 7 always 0; field 8 0..8 else 0.
        /* 1 */ {[] { return Print1DBarcode("1", 0, 0, 17, 2, 6, 100, 5, 9); }, "B10,0,1,2,6,100,0,0,'1'\r"},
        /* 2 */ {[] { return Print1DBarcode("1", 0, 0, 0, 2, 6, 100, -1, 8); }, "B10,0,0,2,6,100,0,8,'1'\r"},
        /* 3 */ {[] { return Print1DBarcode("1", 0, 0, 16, -2, -6, -100, 0, -1); }, "B10,0,16,-2,-6,-100,0,0,'1'\r"},
        // MaxiCode modes 0, 2, 3, 4.
        /* 4 */ {[] { return PrintMaxiCode("A", 1, 2, 1); }, "B21,2,M,0,'A'\r"},
        /* 5 */ {[] { return PrintMaxiCode("A", 1, 2, 5); }, "B21,2,M,0,'A'\r"},
        /* 6 */ {[] { return PrintMaxiCode("A", 1, 2, 3); }, "B21,2,M,3,'A'\r"},
        /* 7 */ {[] { return PrintMaxiCode("A", 1, 2, 4); }, "B21,2,M,4,'A'\r"},
        // PDF417 boundaries.
        /* 8 */ {[] { return PrintPDF417("A", 1, 2, 3, 1, 0, 0, 0, 0, 2, 4, 0); }, "B21,2,P,3,1,0,0,0,0,2,4,0,'A'\r"},
        /* 9 */ {[] { return PrintPDF417("A", 1, 2, 90, 30, 8, 2, 200, 5, 9, 99, 3); }, "B21,2,P,90,30,8,2,1,1,9,99,3,'A'\r"},
        /* 10 */ {[] { return PrintPDF417("A", 1, 2, 91, 31, 9, 3, 0, -1, 10, 100, 4); }, "B21,2,P,30,5,0,0,0,1,3,10,0,'A'\r"},
        /* 11 */ {[] { return PrintPDF417("A", 1, 2, 2, 0, -1, -1, 1, 1, 1, 3, -1); }, "B21,2,P,30,5,0,0,1,1,3,10,0,'A'\r"},
        // QR code: level letters, model and field 6.
        /* 12 */ {[] { return PrintQRCode("A", 1, 2, 0, 7, 0, 4); }, "B21,2,Q,1,L,4,0,'A'\r"},
        /* 13 */ {[] { return PrintQRCode("A", 1, 2, 1, 0, 1, 3); }, "B21,2,Q,1,L,1,3,'A'\r"},
        /* 14 */ {[] { return PrintQRCode("A", 1, 2, 2, 2, 4, -1); }, "B21,2,Q,2,Q,4,0,'A'\r"},
        /* 15 */ {[] { return PrintQRCode("A", 1, 2, 3, 3, 5, 0); }, "B21,2,Q,1,H,4,0,'A'\r"},
        // Data Matrix.
        /* 16 */ {[] { return PrintDataMatrix("A", 1, 2, 0, 0, 4); }, "B21,2,D,2,N,0,'A'\r"},
        /* 17 */ {[] { return PrintDataMatrix("A", 1, 2, 4, 255, 3); }, "B21,2,D,4,R,3,'A'\r"},
        // Aztec: field 5 falls back to 0, field 8 to 15, field 9 unchanged.
        /* 18 */ {[] { return PrintAztec("A", 1, 2, 0, 2, 301, 9, 0, -9, 4); }, "B21,2,A,2,0,0,1,15,-9,0,'A'\r"},
        /* 19 */ {[] { return PrintAztec("A", 1, 2, 10, 1, 300, 0, 26, 0, 3); }, "B21,2,A,10,1,300,0,26,0,3,'A'\r"},
        /* 20 */ {[] { return PrintAztec("A", 1, 2, 11, -1, -1, 1, 27, 7, -1); }, "B21,2,A,2,0,0,1,15,7,0,'A'\r"},
        // Code 49.
        /* 21 */ {[] { return PrintCode49("A", 1, 2, -4, 0, 9, 3, 8, 4); }, "B21,2,F,-4,0,9,0,0,0,'A'\r"},
        /* 22 */ {[] { return PrintCode49("A", 1, 2, 1, 2, 3, 2, 7, 3); }, "B21,2,F,1,2,3,2,7,3,'A'\r"},
        // CODABLOCK: the mode decides the range of field 10.
        /* 23 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 0, 20); }, "B21,2,C,0,0,0,0,30,A,10,0,'A'\r"},
        /* 24 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 0, 18); }, "B21,2,C,0,0,0,0,30,A,18,0,'A'\r"},
        /* 25 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 0, 1); }, "B21,2,C,0,0,0,0,30,A,1,0,'A'\r"},
        /* 26 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 0, 0); }, "B21,2,C,0,0,0,0,30,A,10,0,'A'\r"},
        /* 27 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 2, 4); }, "B21,2,C,0,0,0,0,30,F,4,0,'A'\r"},
        /* 28 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 2, 10); }, "B21,2,C,0,0,0,0,30,F,3,0,'A'\r"},
        /* 29 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 5, 1); }, "B21,2,C,0,0,0,0,30,E,3,0,'A'\r"},
        /* 30 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 30, 1, 2); }, "B21,2,C,0,0,0,0,30,E,2,0,'A'\r"},
        /* 31 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 7, 1, 1, 5); }, "B21,2,C,0,0,0,1,30,E,3,0,'A'\r"},
        /* 32 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 0, 62, -1, 2); }, "B21,2,C,0,0,0,0,62,E,2,0,'A'\r"},
        // MicroPDF.
        /* 33 */ {[] { return PrintMicroPDF("A", 1, 2, 1, 0, 34, 4); }, "B21,2,B,5,50,0,0,'A'\r"},
        /* 34 */ {[] { return PrintMicroPDF("A", 1, 2, 8, 99, 33, 3); }, "B21,2,B,8,99,33,3,'A'\r"},
        // GS1 DataBar: segments per row are even, 0 to 22.
        /* 35 */ {[] { return PrintGS1DataBar("A", 1, 2, 0, 10, 1, -5, 0, 3); }, "B31,2,R,0,10,1,-5,0,3,'A'\r"},
        /* 36 */ {[] { return PrintGS1DataBar("A", 1, 2, 5, 1, 2, 0, 2, 0); }, "B31,2,R,5,1,2,0,2,0,'A'\r"},
        /* 37 */ {[] { return PrintGS1DataBar("A", 1, 2, 0, 0, 0, 0, 22, 0); }, "B31,2,R,0,1,1,0,22,0,'A'\r"},
        /* 38 */ {[] { return PrintGS1DataBar("A", 1, 2, -1, 11, 3, 0, 7, 4); }, "B31,2,R,5,1,1,0,6,0,'A'\r"},
        /* 39 */ {[] { return PrintGS1DataBar("A", 1, 2, 0, 1, 1, 0, -2, 0); }, "B31,2,R,0,1,1,0,6,0,'A'\r"},
        /* 40 */ {[] { return PrintGS1DataBar("A", 1, 2, 0, 1, 1, 0, 23, 0); }, "B31,2,R,0,1,1,0,6,0,'A'\r"},
        /* 41 */ {[] { return PrintGS1DataBar("A", 1, 2, 0, 1, 1, 0, 24, 0); }, "B31,2,R,0,1,1,0,6,0,'A'\r"},
        /* 42 */ {[] { return PrintGS1DataBar("A", 1, 2, 0, 1, 1, 0, -1, 0); }, "B31,2,R,0,1,1,0,6,0,'A'\r"},
        // Lowest accepted values, and even flag values, which are on too.
        /* 43 */ {[] { return PrintAztec("A", 1, 2, 1, 0, 0, 2, 1, 0, 0); }, "B21,2,A,1,0,0,1,1,0,0,'A'\r"},
        /* 44 */ {[] { return PrintMicroPDF("A", 1, 2, 2, 1, 0, 0); }, "B21,2,B,2,1,0,0,'A'\r"},
        /* 45 */ {[] { return PrintDataMatrix("A", 1, 2, 1, 2, 0); }, "B21,2,D,1,R,0,'A'\r"},
        /* 46 */ {[] { return PrintPDF417("A", 1, 2, 30, 5, 0, 0, 2, 2, 3, 10, 0); }, "B21,2,P,30,5,0,0,1,1,3,10,0,'A'\r"},
        // CODABLOCK: a negative mode is an "other" mode (E, field 10 from 2 to 4).
        /* 47 */ {[] { return PrintCODABLOCK("A", 1, 2, 0, 0, 0, 2, 2, -1, 1); }, "B21,2,C,0,0,0,1,2,E,3,0,'A'\r"},
        // PDF417 field 9 is an int: every non-zero value is on, not only its low byte.
        /* 48 */ {[] { return PrintPDF417("A", 1, 2, 30, 5, 0, 0, 0, 256, 3, 10, 0); }, "B21,2,P,30,5,0,0,0,1,3,10,0,'A'\r"},
        /* 49 */ {[] { return PrintPDF417("A", 1, 2, 30, 5, 0, 0, 0, INT_MIN, 3, 10, 0); }, "B21,2,P,30,5,0,0,0,1,3,10,0,'A'\r"},
    });
}

TEST_F(BarcodeTest, DataAndCoordinatesGoOutAsGiven) {
    expectAppended({
        /* 1: empty data */
        {[] { return PrintQRCode("", 1, 2, 1, 0, 4, 0); }, "B21,2,Q,1,L,4,0,''\r"},
        /* 2: negative coordinates */
        {[] { return PrintMaxiCode("A", -10, -20, 0); }, "B2-10,-20,M,0,'A'\r"},
        /* 3: quotes and carriage returns inside the data are not escaped */
        {[] { return PrintDataMatrix("a'b\rc", 1, 2, 1, 0, 0); }, "B21,2,D,1,N,0,'a'b\rc'\r"},
        /* 4: the widest Code 49 header (70 characters) is not cut */
        {[] { return PrintCode49("A", INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, 0, 0, 0); },
         "B2-2147483648,-2147483648,F,-2147483648,-2147483648,-2147483648,0,0,0,'A'\r"},
        /* 5: the widest CODABLOCK header (76 characters) is not cut */
        {[] { return PrintCODABLOCK("A", INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, 1, 62, 0, 18); },
         "B2-2147483648,-2147483648,C,-2147483648,-2147483648,-2147483648,1,62,A,18,0,'A'\r"},
        /* 6 */ {[] { return Print1DBarcode("A", INT_MAX, INT_MIN, 16, INT_MIN, INT_MAX, INT_MIN, 0, 8); },
                 "B12147483647,-2147483648,16,-2147483648,2147483647,-2147483648,0,8,'A'\r"},
        /* 7 */ {[] { return PrintAztec("A", INT_MIN, INT_MIN, 1, 1, 300, 1, 26, INT_MIN, 3); },
                 "B2-2147483648,-2147483648,A,1,1,300,1,26,-2147483648,3,'A'\r"},
    });
}

// A command that lifts the buffer over the threshold stays in it when the
// send fails, and the function still logs "end".
TEST_F(BarcodeTest, FailedSendKeepsTheCommand) {
    vren::test::expectKeptAfterFailedSend({
        /* 1 */ {[] { return Print1DBarcode("12345", 50, 100, 1, 2, 6, 100, 1, 0); }, "B150,100,1,2,6,100,0,0,'12345'\r"},
        /* 2 */ {[] { return PrintMaxiCode("ABC", 10, 20, 2); }, "B210,20,M,2,'ABC'\r"},
        /* 3 */ {[] { return PrintPDF417("ABC", 10, 20, 2, 40, 3, 1, 1, 7, 3, 10, 0); }, "B210,20,P,30,5,3,1,1,1,3,10,0,'ABC'\r"},
        /* 4 */ {[] { return PrintQRCode("ABC", 100, 50, 2, 1, 3, 0); }, "B2100,50,Q,2,M,3,0,'ABC'\r"},
        /* 5 */ {[] { return PrintDataMatrix("ABC", 10, 20, 3, 1, 1); }, "B210,20,D,3,R,1,'ABC'\r"},
        /* 6 */ {[] { return PrintAztec("ABC", 10, 20, 4, 1, 23, 0, 0, 5, 2); }, "B210,20,A,4,1,23,0,15,5,2,'ABC'\r"},
        /* 7 */ {[] { return PrintCode49("ABC", 10, 20, 2, 4, 50, 1, 3, 9); }, "B210,20,F,2,4,50,1,3,0,'ABC'\r"},
        /* 8 */ {[] { return PrintCODABLOCK("ABC", 10, 20, 2, 4, 50, 1, 8, 2, 4); }, "B210,20,C,2,4,50,1,8,F,4,0,'ABC'\r"},
        /* 9 */ {[] { return PrintMicroPDF("ABC", 10, 20, 4, 100, 7, 1); }, "B210,20,B,4,50,7,1,'ABC'\r"},
        /* 10 */ {[] { return PrintGS1DataBar("A", 10, 20, 6, 2, 2, 0, 7, 1); }, "B310,20,R,5,2,2,0,6,1,'A'\r"},
    });
    for (const char *name : {"Print1DBarcode", "PrintMaxiCode", "PrintPDF417", "PrintQRCode", "PrintDataMatrix",
                             "PrintAztec", "PrintCode49", "PrintCODABLOCK", "PrintMicroPDF", "PrintGS1DataBar"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> messages = logMessages(name);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.front(), "start");
        EXPECT_EQ(messages.back(), "end");
    }
    EXPECT_EQ(std::ranges::count(logMessages("bufferCheck"), "Failed to write"), 10);
}

TEST_F(BarcodeTest, NullDataIsRefused) {
    const std::vector<std::pair<const char *, std::function<int()>>> calls = {
        {"Print1DBarcode", [] { return Print1DBarcode(nullptr, 0, 0, 1, 2, 6, 100, 0, 0); }},
        {"PrintMaxiCode", [] { return PrintMaxiCode(nullptr, 0, 0, 0); }},
        {"PrintPDF417", [] { return PrintPDF417(nullptr, 0, 0, 3, 1, 0, 0, 0, 0, 2, 4, 0); }},
        {"PrintQRCode", [] { return PrintQRCode(nullptr, 0, 0, 1, 0, 4, 0); }},
        {"PrintDataMatrix", [] { return PrintDataMatrix(nullptr, 0, 0, 1, 0, 0); }},
        {"PrintAztec", [] { return PrintAztec(nullptr, 0, 0, 1, 0, 0, 0, 1, 0, 0); }},
        {"PrintCode49", [] { return PrintCode49(nullptr, 0, 0, 0, 0, 0, 0, 0, 0); }},
        {"PrintCODABLOCK", [] { return PrintCODABLOCK(nullptr, 0, 0, 0, 0, 0, 0, 30, 0, 10); }},
        {"PrintMicroPDF", [] { return PrintMicroPDF(nullptr, 0, 0, 5, 50, 0, 0); }},
        {"PrintGS1DataBar", [] { return PrintGS1DataBar(nullptr, 0, 0, 5, 1, 1, 0, 6, 0); }},
    };
    expectNullDataRefused(calls);
}

TEST_F(BarcodeTest, OneDimensionalLogsItsData) {
    ASSERT_EQ(Print1DBarcode("12345", 50, 100, 1, 2, 6, 100, 0, 0), VREN_OK);
    const std::vector<std::string> expected = {"start", "barcode data : 12345, 5", "end"};
    EXPECT_EQ(logMessages("Print1DBarcode"), expected);
}

// The records of one call in order, across the function, the buffer check
// and the transport: "start" first, "end" last whatever the result, the
// buffer check's records between them; Print1DBarcode alone logs its data
// (as data, never as a format). Each row runs on an empty buffer (nothing
// sent), then not connected on a nearly full one (the send fails).
TEST_F(BarcodeTest, EachCallLogsInOrder) {
    struct Row {
        const char *name;
        std::function<int()> call;
        const char *dataLine;  // Print1DBarcode only
    };
    const Row rows[] = {
        /* 1 */ {"Print1DBarcode", [] { return Print1DBarcode("%s%d'\n", 50, 100, 1, 2, 6, 100, 0, 0); },
                 "barcode data : %s%d'\n, 6"},
        /* 2 */ {"Print1DBarcode", [] { return Print1DBarcode("", 50, 100, 1, 2, 6, 100, 0, 0); }, "barcode data : , 0"},
        /* 3 */ {"PrintMaxiCode", [] { return PrintMaxiCode("%s", 10, 20, 2); }, nullptr},
        /* 4 */ {"PrintPDF417", [] { return PrintPDF417("ABC", 10, 20, 2, 40, 3, 1, 1, 7, 3, 10, 0); }, nullptr},
        /* 5 */ {"PrintQRCode", [] { return PrintQRCode("ABC", 100, 50, 2, 1, 3, 0); }, nullptr},
        /* 6 */ {"PrintDataMatrix", [] { return PrintDataMatrix("ABC", 10, 20, 3, 1, 1); }, nullptr},
        /* 7 */ {"PrintAztec", [] { return PrintAztec("ABC", 10, 20, 4, 1, 23, 0, 0, 5, 2); }, nullptr},
        /* 8 */ {"PrintCode49", [] { return PrintCode49("ABC", 10, 20, 2, 4, 50, 1, 3, 9); }, nullptr},
        /* 9 */ {"PrintCODABLOCK", [] { return PrintCODABLOCK("ABC", 10, 20, 2, 4, 50, 1, 8, 2, 4); }, nullptr},
        /* 10 */ {"PrintMicroPDF", [] { return PrintMicroPDF("ABC", 10, 20, 4, 100, 7, 1); }, nullptr},
        /* 11 */ {"PrintGS1DataBar", [] { return PrintGS1DataBar("A", 10, 20, 6, 2, 2, 0, 7, 1); }, nullptr},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const std::string name = row.name;
        const auto expected = [&](std::vector<std::string> check) {
            std::vector<std::string> records = {name + ": start"};
            if (row.dataLine != nullptr)
                records.push_back(name + ": " + row.dataLine);
            records.insert(records.end(), check.begin(), check.end());
            records.push_back(name + ": end");
            return records;
        };

        initDataBuffer();
        markLog();
        EXPECT_EQ(row.call(), VREN_OK);
        EXPECT_EQ(vren::test::parseLogRecords(logText()).records,
                  expected({"bufferCheck: start", "bufferCheck: end"}));

        const std::string pending(vren::test::kNearlyFull, 'p');
        std::memcpy(gPrintData, pending.data(), pending.size());
        gDataIndex = static_cast<uint32_t>(pending.size());
        markLog();
        EXPECT_EQ(row.call(), VREN_E_WRITE);
        const vren::test::LogRecords log = vren::test::parseLogRecords(logText());
        EXPECT_EQ(log.records,
                  expected({"bufferCheck: start", "writeData: write data : ", "bufferCheck: Failed to write"}));
        EXPECT_EQ(log.bytesWritten, gDataIndex) << "the whole buffer, the new command included";
    }
}

// Not connected, so every send fails. A command that does not fit into the
// free space sends the buffer first: that send fails, the command is not
// appended, the buffer is left as it was and the buffer check does not run.
// A command longer than the whole buffer, on an empty one, fails its own send.
TEST_F(BarcodeTest, FailedSendBeforeTheCommand) {
    const std::string data(600, 'd');
    const std::string oversize(5000, 'o');
    struct Row {
        const char *name;
        std::function<int()> call;
        size_t pending;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        /* 1 */ {"PrintQRCode", [&] { return PrintQRCode(data.c_str(), 1, 2, 2, 1, 4, 0); }, 3500,
                 {"start", "Failed to write", "end"}},
        /* 2 */ {"Print1DBarcode", [&] { return Print1DBarcode(data.c_str(), 1, 2, 1, 2, 6, 100, 0, 0); }, 3500,
                 {"start", "barcode data : " + data + ", 600", "Failed to write", "end"}},
        /* 3 */ {"PrintPDF417", [&] { return PrintPDF417(oversize.c_str(), 1, 2, 30, 5, 0, 0, 0, 0, 3, 10, 0); }, 0,
                 {"start", "Failed to write", "end"}},
        /* 4 */ {"Print1DBarcode", [&] { return Print1DBarcode(oversize.c_str(), 1, 2, 1, 2, 6, 100, 0, 0); }, 0,
                 {"start", "barcode data : " + oversize + ", 5000", "Failed to write", "end"}},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row &row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1));
        initDataBuffer();
        const std::string pending(row.pending, 'p');
        std::memcpy(gPrintData, pending.data(), pending.size());
        gDataIndex = static_cast<uint32_t>(pending.size());
        markLog();
        EXPECT_EQ(row.call(), VREN_E_WRITE);
        EXPECT_LONG_BYTES(pending, vren::test::pendingBytes());
        EXPECT_EQ(gPrintData[gDataIndex], 0) << "no byte written behind the fill level";
        EXPECT_EQ(logMessages(row.name), row.log);
        EXPECT_TRUE(logMessages("bufferCheck").empty());
    }
}

// A command longer than the whole buffer is copied into one request before it
// is sent; when that copy cannot be allocated, the function returns
// VREN_E_NOMEM, sends and appends nothing, skips the buffer check and still
// logs "end". Runs in a child process whose address space it limits.
TEST_F(BarcodeTest, OversizeCommandWithoutMemory) {
    if (!vren::test::kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not mix with AddressSanitizer";
    const auto allFail = [this] {
        const std::string data(24 << 20, 'D');
        const char *d = data.c_str();
        vren::test::limitAddressSpace(8 << 20);
        const std::vector<std::pair<const char *, std::function<int()>>> calls = {
            {"Print1DBarcode", [d] { return Print1DBarcode(d, 1, 2, 1, 2, 6, 100, 0, 0); }},
            {"PrintMaxiCode", [d] { return PrintMaxiCode(d, 1, 2, 2); }},
            {"PrintPDF417", [d] { return PrintPDF417(d, 1, 2, 30, 5, 0, 0, 0, 0, 3, 10, 0); }},
            {"PrintQRCode", [d] { return PrintQRCode(d, 1, 2, 2, 1, 4, 0); }},
            {"PrintDataMatrix", [d] { return PrintDataMatrix(d, 1, 2, 2, 0, 0); }},
            {"PrintAztec", [d] { return PrintAztec(d, 1, 2, 2, 0, 0, 0, 15, 0, 0); }},
            {"PrintCode49", [d] { return PrintCode49(d, 1, 2, 0, 0, 0, 0, 0, 0); }},
            {"PrintCODABLOCK", [d] { return PrintCODABLOCK(d, 1, 2, 0, 0, 0, 0, 30, 0, 10); }},
            {"PrintMicroPDF", [d] { return PrintMicroPDF(d, 1, 2, 5, 50, 0, 0); }},
            {"PrintGS1DataBar", [d] { return PrintGS1DataBar(d, 1, 2, 5, 1, 1, 0, 6, 0); }},
        };
        bool ok = true;
        for (const auto &[name, call] : calls) {
            markLog();
            ok = ok && call() == VREN_E_NOMEM && gDataIndex == 0 && gPrintData[0] == 0;
            // Print1DBarcode's data line may itself be lost for lack of memory.
            std::vector<std::string> messages = logMessages(name);
            std::erase_if(messages, [](const std::string &m) { return m.starts_with("barcode data : "); });
            ok = ok && messages == std::vector<std::string>{"start", "Failed to alloc memory for the command", "end"} &&
                 logMessages("bufferCheck").empty() && logMessages("writeData").empty();
        }
        return ok;
    };
    EXPECT_EXIT(std::exit(allFail() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// The buffer is sent once a command leaves it at 3584 bytes or more.
TEST_F(BarcodeTest, BufferIsSentAtTheThreshold) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    const std::string header = "B21,2,M,0,";
    // The pending bytes and the command together make 3583, then 3584.
    const std::string below(3583 - 3 - header.size() - 100, 'a');
    std::memset(gPrintData, 'p', 100);
    gDataIndex = 100;
    ASSERT_EQ(PrintMaxiCode(below.c_str(), 1, 2, 0), VREN_OK);
    EXPECT_EQ(gDataIndex, 3583u);
    // One more pending byte: the same command leaves exactly 3584 and is sent.
    initDataBuffer();
    std::memset(gPrintData, 'p', 101);
    gDataIndex = 101;
    ASSERT_EQ(PrintMaxiCode(below.c_str(), 1, 2, 0), VREN_OK);
    EXPECT_EQ(gDataIndex, 0u);
    const std::string expected = std::string(101, 'p') + header + "'" + below + "'\r";
    EXPECT_EQ(expected.size(), 3584u);
    EXPECT_LONG_BYTES(expected, printed(expected.size()));
}

// Data of any length goes out whole, behind the commands already composed.
TEST_F(BarcodeTest, LongDataGoesOutWhole) {
    ASSERT_EQ(connectToVirtualPrinter(), VREN_OK);
    std::string qr(4000, 'Q');
    for (size_t i = 0; i < qr.size(); ++i)
        qr[i] = static_cast<char>('0' + i % 10);
    const std::string pdf(3 * 1024, 'P');
    const std::string pending(1000, 'x');
    std::memcpy(gPrintData, pending.data(), pending.size());
    gDataIndex = static_cast<uint32_t>(pending.size());

    ASSERT_EQ(PrintQRCode(qr.c_str(), 10, 20, 2, 1, 4, 0), VREN_OK);
    const std::string qrCommand = "B210,20,Q,2,M,4,0,'" + qr + "'\r";
    EXPECT_LONG_BYTES(pending + qrCommand, printed(pending.size() + qrCommand.size()));
    EXPECT_EQ(gDataIndex, 0u);

    std::memcpy(gPrintData, pending.data(), pending.size());
    gDataIndex = static_cast<uint32_t>(pending.size());
    ASSERT_EQ(PrintPDF417(pdf.c_str(), 10, 20, 30, 5, 2, 0, 0, 0, 3, 10, 0), VREN_OK);
    // The pending bytes went out first; the payload waits in the emptied buffer.
    const std::string pdfCommand = "B210,20,P,30,5,2,0,0,0,3,10,0,'" + pdf + "'\r";
    const std::string sent = pending + qrCommand + pending;
    EXPECT_LONG_BYTES(sent, printed(sent.size()));
    EXPECT_LONG_BYTES(pdfCommand, vren::test::pendingBytes());
    ASSERT_EQ(Prints(1, 1), VREN_OK);
    const std::string all = sent + pdfCommand + "P1,1\r";
    EXPECT_LONG_BYTES(all, printed(all.size()));

    // Data longer than the whole buffer is streamed after it, not cut.
    const std::string code(5000, '7');
    ASSERT_EQ(Print1DBarcode(code.c_str(), 1, 2, 1, 2, 6, 100, 0, 0), VREN_OK);
    const std::string longest = all + "B11,2,1,2,6,100,0,0,'" + code + "'\r";
    EXPECT_LONG_BYTES(longest, printed(longest.size()));
    EXPECT_EQ(gDataIndex, 0u);
}

}  // namespace
