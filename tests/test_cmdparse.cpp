// The command parser: exact byte strings of the command language in, typed
// commands and diagnostics (shown as their JSON lines) out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bytes.h"
#include "decode.h"
#include "json.h"
#include "memory_limit.h"
#include "parse_feed.h"
#include "parser.h"

namespace {

using cmdparse::Event;

std::string lines(const std::vector<Event> &events) {
    std::string out;
    for (const Event &event : events) {
        if (const auto *command = std::get_if<cmdparse::Command>(&event))
            out += cmdparse::toJson(*command);
        else
            out += cmdparse::toJson(std::get<cmdparse::Diagnostic>(event));
        out += '\n';
    }
    return out;
}

std::string parsed(std::string_view bytes, cmdparse::Limits limits = {}) {
    return lines(cmdparse::parseAll(bytes, limits));
}

// The same stream fed in two reads, the first `split` bytes long.
std::string parsedInTwo(std::string_view bytes, size_t split, cmdparse::Limits limits = {}) {
    return lines(vren::test::parsedInPieces({bytes.substr(0, split), bytes.substr(split)}, limits));
}

// The same stream fed one byte at a time.
std::string parsedBytewise(std::string_view bytes, cmdparse::Limits limits = {}) {
    return lines(vren::test::parsedBytewise(bytes, limits));
}

struct Row {
    std::string bytes;
    std::string expected;  // JSON lines
};

std::string b(const char *text, size_t size) { return std::string(text, size); }

const std::vector<Row> &rows() {
    static const std::vector<Row> table = {
        // 0: model and status queries
        {"^PI0\r\n^cu\r", R"({"offset":0,"length":5,"command":"^PI0"}
{"offset":6,"length":4,"command":"^cu"}
)"},
        // 1: print, negative counts, clear
        {"P2,3\rP-1,0\rCB\r", R"({"offset":0,"length":5,"command":"P","labels":2,"copies":3}
{"offset":5,"length":6,"command":"P","labels":-1,"copies":0}
{"offset":11,"length":3,"command":"CB"}
)"},
        // 2: device text, numeric font
        {"T10,20,3,1,1,0,0,N,N,'ABC'\r",
         R"({"offset":0,"length":27,"command":"T","x":10,"y":20,"font":3,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"N","bold":"N","data":"ABC","dataHex":"414243"}
)"},
        // 3: device text, lettered font, bold, code-page bytes (and DEL): no text, kept as bytes
        {"T-5,7,a,2,3,0,1,N,B,'\xC7\xD1\x7F'\r",
         R"({"offset":0,"length":26,"command":"T","x":-5,"y":7,"font":"a","xMultiplier":2,"yMultiplier":3,"reserved":0,"rotation":1,"fixed":"N","bold":"B","data":null,"dataHex":"c7d17f"}
)"},
        // 4: vector text with every letter field
        {"V10,20,U,30,40,2,B,R,I,3,C,1,'Hi'\r",
         R"({"offset":0,"length":34,"command":"V","x":10,"y":20,"font":"U","width":30,"height":40,"spacing":2,"bold":"B","reverse":"R","italic":"I","rotation":3,"alignment":"C","lastOption":1,"data":"Hi","dataHex":"4869"}
)"},
        // 5: quoted data holding a quote and a carriage return (not followed by each other)
        {"T1,2,3,1,1,0,0,N,N,'it's\rok'\r",
         R"({"offset":0,"length":29,"command":"T","x":1,"y":2,"font":3,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"N","bold":"N","data":"it's\rok","dataHex":"697427730d6f6b"}
)"},
        // 6: empty data
        {"B150,100,1,2,6,100,0,0,''\r",
         R"({"offset":0,"length":26,"command":"B1","x":50,"y":100,"type":1,"narrow":2,"wide":6,"height":100,"rotation":0,"readable":0,"data":"","dataHex":""}
)"},
        // 7: every B2 symbology and B3
        {"B210,20,M,2,'ABC'\rB210,20,P,30,5,3,1,1,1,3,10,0,'ABC'\rB2100,50,Q,2,M,3,0,'ABC'\r"
         "B210,20,D,3,R,1,'ABC'\rB210,20,A,4,1,23,0,15,5,2,'ABC'\rB210,20,F,2,4,50,1,3,0,'ABC'\r"
         "B210,20,C,2,4,50,1,8,F,4,0,'ABC'\rB210,20,B,4,50,7,1,'ABC'\rB310,20,R,5,2,2,0,6,1,'(01)12345678901231'\r",
         R"({"offset":0,"length":18,"command":"B2","x":10,"y":20,"symbology":"M","fields":[2],"data":"ABC","dataHex":"414243"}
{"offset":18,"length":36,"command":"B2","x":10,"y":20,"symbology":"P","fields":[30,5,3,1,1,1,3,10,0],"data":"ABC","dataHex":"414243"}
{"offset":54,"length":25,"command":"B2","x":100,"y":50,"symbology":"Q","fields":[2,"M",3,0],"data":"ABC","dataHex":"414243"}
{"offset":79,"length":22,"command":"B2","x":10,"y":20,"symbology":"D","fields":[3,"R",1],"data":"ABC","dataHex":"414243"}
{"offset":101,"length":32,"command":"B2","x":10,"y":20,"symbology":"A","fields":[4,1,23,0,15,5,2],"data":"ABC","dataHex":"414243"}
{"offset":133,"length":29,"command":"B2","x":10,"y":20,"symbology":"F","fields":[2,4,50,1,3,0],"data":"ABC","dataHex":"414243"}
{"offset":162,"length":33,"command":"B2","x":10,"y":20,"symbology":"C","fields":[2,4,50,1,8,"F",4,0],"data":"ABC","dataHex":"414243"}
{"offset":195,"length":25,"command":"B2","x":10,"y":20,"symbology":"B","fields":[4,50,7,1],"data":"ABC","dataHex":"414243"}
{"offset":220,"length":43,"command":"B3","x":10,"y":20,"symbology":"R","fields":[5,2,2,0,6,1],"data":"(01)12345678901231","dataHex":"283031293132333435363738393031323331"}
)"},
        // 8: blocks with and without thickness, circle
        {"BD10,20,300,400,O\rBD10,20,300,400,B,3\rCD100,100,2,1\r",
         R"({"offset":0,"length":18,"command":"BD","startX":10,"startY":20,"endX":300,"endY":400,"option":"O"}
{"offset":18,"length":20,"command":"BD","startX":10,"startY":20,"endX":300,"endY":400,"option":"B","thickness":3}
{"offset":38,"length":14,"command":"CD","x":100,"y":100,"size":2,"multiplier":1}
)"},
        // 9: settings, CR and CR LF endings
        {"SS9\rSS11\rSD20\rSOT\rCUTy,3\r\nCUTy\r\nCUTn\r\nRWDy\r\nSA-100\rTA5\rSTd\rSF1\r"
         "SL1200,24,G,0\rSW800\rSM-2147483648,2147483647\rCS0,0\r",
         R"({"offset":0,"length":4,"command":"SS","fields":[9]}
{"offset":4,"length":5,"command":"SS","fields":[11]}
{"offset":9,"length":5,"command":"SD","fields":[20]}
{"offset":14,"length":4,"command":"SO","fields":["T"]}
{"offset":18,"length":7,"command":"CUT","fields":["y",3]}
{"offset":26,"length":5,"command":"CUT","fields":["y"]}
{"offset":32,"length":5,"command":"CUT","fields":["n"]}
{"offset":38,"length":5,"command":"RWD","fields":["y"]}
{"offset":44,"length":7,"command":"SA","fields":[-100]}
{"offset":51,"length":4,"command":"TA","fields":[5]}
{"offset":55,"length":4,"command":"ST","fields":["d"]}
{"offset":59,"length":4,"command":"SF","fields":[1]}
{"offset":63,"length":14,"command":"SL","fields":[1200,24,"G",0]}
{"offset":77,"length":6,"command":"SW","fields":[800]}
{"offset":83,"length":25,"command":"SM","fields":[-2147483648,2147483647]}
{"offset":108,"length":6,"command":"CS","fields":[0,0]}
)"},
        // 10: control commands
        {"@\r~JC\r\n~JR\r\n~PH\r\n", R"({"offset":0,"length":2,"command":"@"}
{"offset":2,"length":4,"command":"~JC"}
{"offset":7,"length":4,"command":"~JR"}
{"offset":12,"length":4,"command":"~PH"}
)"},
        // 11: LD 100 x 50 at (10, 20): the raster is kept as sent
        {b("LD\x0A\x00\x14\x00\x0D\x00\x32\x00", 10) + std::string(650, '\x5A') + "\r",
         R"({"offset":0,"length":661,"command":"LD","x":10,"y":20,"bytesPerRow":13,"rows":50,"streamBytes":650,"raster":")" +
             cmdparse::rasterDigest(std::vector<uint8_t>(650, 0x5A)) + "\"}\n"},
        // 12: LCR of a white 100 x 50 image: 650 = 255 + 255 + 140 zero bytes
        {b("LCR\x00\x0A\x00\x14\x00\x0D\x00\x32\x00\x00\xFF\x00\xFF\x00\x8C\r", 19),
         R"({"offset":0,"length":19,"command":"LCR","x":10,"y":20,"bytesPerRow":13,"rows":50,"streamBytes":6,"raster":")" +
             cmdparse::rasterDigest(std::vector<uint8_t>(650, 0)) + "\"}\n"},
        // 13: position 300 is 2C 01; the digest is FNV-1a of the one byte 0x80
        {b("LD\x2C\x01\x00\x00\x01\x00\x01\x00\x80\r", 12),
         R"({"offset":0,"length":12,"command":"LD","x":300,"y":0,"bytesPerRow":1,"rows":1,"streamBytes":1,"raster":"af643d4c8602915f"}
)"},
        // 14: unknown command, then resynchronised at the next CR
        {"XYZ\rP1,1\r", R"({"offset":0,"source":"parser","message":"unknown command \"XYZ\""}
{"offset":4,"length":5,"command":"P","labels":1,"copies":1}
)"},
        // 15: bad field count, number out of int range, non-number
        {"P1\rP2147483648,1\rCD1,2,x,4\r", R"({"offset":1,"source":"parser","message":"P: expected 2 fields, got 1"}
{"offset":4,"source":"parser","message":"P: number out of int range: \"2147483648\""}
{"offset":23,"source":"parser","message":"CD: expected a number, got \"x\""}
)"},
        // 16: header without its final comma, unknown symbology, missing quoted field
        {"T1,2,3,1,1,0,0,N,N'A'\rB210,20,X,1,'A'\rB11,2\rP1,1\r",
         R"({"offset":0,"source":"parser","message":"T: header does not end in a comma"}
{"offset":30,"source":"parser","message":"B2: unknown symbology \"X\""}
{"offset":38,"source":"parser","message":"command without quoted field: \"B11,2\""}
{"offset":44,"length":5,"command":"P","labels":1,"copies":1}
)"},
        // 17: unterminated quoted field at the end of the input
        {"P1,1\rT1,2,3,1,1,0,0,N,N,'never closed", R"({"offset":0,"length":5,"command":"P","labels":1,"copies":1}
{"offset":24,"source":"parser","message":"unterminated quoted field at end of input"}
)"},
        // 18: bitmap header whose data never arrives
        {b("LD\x00\x00\x00\x00\x10\x00\x10\x00\x01\x02", 12),
         R"({"offset":0,"source":"parser","message":"LD: bitmap data incomplete, 2 of 256 bytes"}
)"},
        // 19: bitmap header cut short
        {b("LCR\x00\x01", 5), R"({"offset":0,"source":"parser","message":"LCR: bitmap header incomplete at end of input"}
)"},
        // 20: bitmap not followed by CR: kept, and the next byte starts a command
        {b("LD\x00\x00\x00\x00\x01\x00\x01\x00\xFFP1,1\r", 16),
         R"({"offset":11,"source":"parser","message":"bitmap not followed by a carriage return"}
{"offset":0,"length":11,"command":"LD","x":0,"y":0,"bytesPerRow":1,"rows":1,"streamBytes":1,"raster":")" +
             cmdparse::rasterDigest({0xFF}) + R"("}
{"offset":11,"length":5,"command":"P","labels":1,"copies":1}
)"},
        // 21: run-length stream that goes past the raster, run of length 0
        {b("LCR\x00\x00\x00\x00\x00\x01\x00\x02\x00\xFF\x00\x00\x05\r", 17),
         R"({"offset":12,"source":"parser","message":"LCR: run of length 0"}
{"offset":14,"source":"parser","message":"LCR: run-length stream goes past the raster"}
{"offset":0,"length":17,"command":"LCR","x":0,"y":0,"bytesPerRow":1,"rows":2,"streamBytes":4,"raster":")" +
             cmdparse::rasterDigest({0, 0}) + "\"}\n"},
        // 22: bare CR and LF between commands are skipped
        {"\r\n\n\rCB\r", R"({"offset":4,"length":3,"command":"CB"}
)"},
        // 23: text after a command that takes none
        {"CBX\r@1\r", R"({"offset":2,"source":"parser","message":"CB: expected 0 fields, got 1"}
{"offset":5,"source":"parser","message":"@: expected 0 fields, got 1"}
)"},
        // 24: a quoted command with a bad header is skipped whole, CR inside its data included
        {"T1,2,'a\rb'\rCB\r", R"({"offset":1,"source":"parser","message":"T: expected 9 fields, got 2"}
{"offset":11,"length":3,"command":"CB"}
)"},
        // 25: LCR whose fourth header byte is not 0: resumes after the next CR
        {b("LCR\x01\x00\x00\x00\x00\x01\x00\x01\x00\x00\x01\rCB\r", 18),
         R"({"offset":3,"source":"parser","message":"LCR: header byte 3 is not 0"}
{"offset":15,"length":3,"command":"CB"}
)"},
        // 26: one character where a letter belongs is taken as it is (its
        // meaning is the renderer's business); two are an error
        {"BD1,2,3,4,5\rSOx1\rCUT1\r\n", R"({"offset":0,"length":12,"command":"BD","startX":1,"startY":2,"endX":3,"endY":4,"option":"5"}
{"offset":14,"source":"parser","message":"SO: expected one letter, got \"x1\""}
{"offset":17,"length":5,"command":"CUT","fields":["1"]}
)"},
        // 27: one field too many, a B2 letter under B3 and a B3 letter under B2
        {"BD1,2,3,4,B,5,6\rCUTy,1,2\rB210,20,M,2,3,'A'\rB310,20,Q,2,M,3,0,'A'\rB210,20,R,5,2,2,0,6,1,'A'\r",
         R"({"offset":2,"source":"parser","message":"BD: expected 5 or 6 fields, got 7"}
{"offset":19,"source":"parser","message":"CUT: expected 1 or 2 fields, got 3"}
{"offset":27,"source":"parser","message":"B2: expected 4 fields, got 5"}
{"offset":51,"source":"parser","message":"B3: unknown symbology \"Q\""}
{"offset":73,"source":"parser","message":"B2: unknown symbology \"R\""}
)"},
        // 28: a line command cut short by the end of the input
        {"CB\rP1,1", R"({"offset":0,"length":3,"command":"CB"}
{"offset":3,"source":"parser","message":"incomplete command at end of input: \"P1,1\""}
)"},
        // 29: a whole bitmap at the end of the input, without its CR: kept
        {b("LD\x00\x00\x00\x00\x01\x00\x01\x00\x80", 11), R"({"offset":11,"source":"parser","message":"bitmap not followed by a carriage return"}
{"offset":0,"length":11,"command":"LD","x":0,"y":0,"bytesPerRow":1,"rows":1,"streamBytes":1,"raster":"af643d4c8602915f"}
)"},
        // 30: "LCR" then CR is no bitmap: parsing resumes after that CR, not behind 12 bytes
        {"LCR\rP1,1\rCB\r", R"({"offset":3,"source":"parser","message":"LCR: header byte 3 is not 0"}
{"offset":4,"length":5,"command":"P","labels":1,"copies":1}
{"offset":9,"length":3,"command":"CB"}
)"},
        // 31: a bitmap header over the limit is skipped whole, a CR inside it (x = 13) included
        {b("LD\x0D\x00\x00\x00\xFF\xFF\xFF\xFF", 10) + "junk\rCB\r", R"({"offset":0,"source":"parser","message":"LD: bitmap of 4294836225 bytes exceeds the limit of 16777216"}
{"offset":15,"length":3,"command":"CB"}
)"},
        // 32: messages quote at most 16 bytes, quote, backslash and DEL escaped
        {"X\"\\\x7F" "0123456789ABCDEF\r", R"({"offset":0,"source":"parser","message":"unknown command \"X\\x22\\x5C\\x7F0123456789AB...\""}
)"},
        // 33: a negative font number is a number, not a letter
        {"T1,2,-1,1,1,0,0,N,N,'A'\r", R"({"offset":0,"length":24,"command":"T","x":1,"y":2,"font":-1,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"N","bold":"N","data":"A","dataHex":"41"}
)"},
        // 34: a symbology of two letters
        {"B210,20,QR,2,M,3,0,'A'\r", R"({"offset":8,"source":"parser","message":"B2: unknown symbology \"QR\""}
)"},
        // 35: run-length data cut by the end of the input: decoded bytes counted
        {b("LCR\x00\x00\x00\x00\x00\x10\x00\x10\x00\x00\x10\x01", 15), R"({"offset":0,"source":"parser","message":"LCR: bitmap data incomplete, 17 of 256 bytes"}
)"},
        // 36: the first byte of a command at the end of the input
        {"CB\rB", R"({"offset":0,"length":3,"command":"CB"}
{"offset":3,"source":"parser","message":"incomplete command at end of input: \"B\""}
)"},
        // 37: a digit in a letter field is that character; a letter in a number field is an error
        {"T1,2,3,1,1,0,0,5,N,'A'\rV1,2,U,0,0,0,N,N,N,0,L,A,'x'\r", R"({"offset":0,"length":23,"command":"T","x":1,"y":2,"font":3,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"5","bold":"N","data":"A","dataHex":"41"}
{"offset":46,"source":"parser","message":"V: expected a number, got \"A\""}
)"},
        // 38: a field error is reported at its own field; an empty letter field,
        // digits followed by other characters, and a thickness of 0 (kept)
        {"BD1,2,3,4,OB\rBD1,2,3,4,\rP1,2147483648\rP1x,1\rBD1,2,3,4,B,0\r", R"({"offset":10,"source":"parser","message":"BD: expected one letter, got \"OB\""}
{"offset":23,"source":"parser","message":"BD: expected one letter, got \"\""}
{"offset":27,"source":"parser","message":"P: number out of int range: \"2147483648\""}
{"offset":39,"source":"parser","message":"P: expected a number, got \"1x\""}
{"offset":44,"length":14,"command":"BD","startX":1,"startY":2,"endX":3,"endY":4,"option":"B","thickness":0}
)"},
        // 39: one field too few for commands with a fixed count, a digit in
        // the letter fields of RWD, C and D (kept as characters), fonts 9 and 10
        {"CS1\rSL1,2,G\rRWD1\rB210,20,P,1,2,3,4,5,6,7,8,'A'\rB210,20,A,1,2,3,4,5,6,'A'\r"
         "B310,20,R,5,2,2,0,6,'A'\rB210,20,C,2,4,50,1,8,5,4,0,'A'\rB210,20,D,3,1,1,'A'\r"
         "T1,2,9,1,1,0,0,N,N,'A'\rT1,2,10,1,1,0,0,N,N,'A'\r",
         R"({"offset":2,"source":"parser","message":"CS: expected 2 fields, got 1"}
{"offset":6,"source":"parser","message":"SL: expected 4 fields, got 3"}
{"offset":12,"length":5,"command":"RWD","fields":["1"]}
{"offset":19,"source":"parser","message":"B2: expected 12 fields, got 11"}
{"offset":49,"source":"parser","message":"B2: expected 10 fields, got 9"}
{"offset":75,"source":"parser","message":"B3: expected 9 fields, got 8"}
{"offset":97,"length":31,"command":"B2","x":10,"y":20,"symbology":"C","fields":[2,4,50,1,8,"5",4,0],"data":"A","dataHex":"41"}
{"offset":128,"length":20,"command":"B2","x":10,"y":20,"symbology":"D","fields":[3,"1",1],"data":"A","dataHex":"41"}
{"offset":148,"length":23,"command":"T","x":1,"y":2,"font":9,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"N","bold":"N","data":"A","dataHex":"41"}
{"offset":171,"length":24,"command":"T","x":1,"y":2,"font":10,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"N","bold":"N","data":"A","dataHex":"41"}
)"},
        // 40: a message quotes 16 bytes whole, a space as it is
        {"ABCDEFG IJKLMNOP\r", R"({"offset":0,"source":"parser","message":"unknown command \"ABCDEFG IJKLMNOP\""}
)"},
        // 41: a digest with a leading zero keeps its 16 digits
        {b("LCR\x00\x00\x00\x00\x00\x02\x00\x01\x00\x00\x02\r", 15),
         R"({"offset":0,"length":15,"command":"LCR","x":0,"y":0,"bytesPerRow":2,"rows":1,"streamBytes":2,"raster":"08328807b4eb6fed"}
)"},
        // 42: a line that is no command ends where a '^' or '~' begins one
        {"PP^PI0\r\nCB^cu\rSO~\r", R"({"offset":1,"source":"parser","message":"P: expected 2 fields, got 1"}
{"offset":2,"length":5,"command":"^PI0"}
{"offset":10,"source":"parser","message":"CB: expected 0 fields, got 1"}
{"offset":10,"length":4,"command":"^cu"}
{"offset":14,"length":4,"command":"SO","fields":["~"]}
)"},
    };
    return table;
}

TEST(CommandParser, TableOfCommands) {
    for (size_t i = 0; i < rows().size(); ++i) {
        const Row &row = rows()[i];
        EXPECT_EQ(row.expected, parsed(row.bytes)) << "row " << i << ": " << vren::test::hex(row.bytes);
    }
}

// Data in a transcript: UTF-8 text as it is, and the exact bytes in
// hexadecimal beside it (bytes that are not UTF-8: table row 3).
TEST(CommandParser, TranscriptDataIsTextAndBytes) {
    EXPECT_TRUE(parsed("V1,2,U,0,0,0,N,N,N,0,L,0,'Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC\t'\r")
                    .ends_with(R"("data":"Größe €\t","dataHex":"4772c3b6c39f6520e282ac09"})" "\n"));
}

TEST(CommandParser, ByteByByteFeedingGivesTheSameResult) {
    for (size_t i = 0; i < rows().size(); ++i) {
        const Row &row = rows()[i];
        EXPECT_EQ(parsed(row.bytes), parsedBytewise(row.bytes)) << "row " << i << ": " << vren::test::hex(row.bytes);
    }
}

TEST(CommandParser, TwoReadsSplitAtEveryByteGiveTheSameResult) {
    // Every command kind of the table, LD and LCR included, cut at each byte.
    for (size_t i = 0; i < rows().size(); ++i) {
        const std::string &bytes = rows()[i].bytes;
        const std::string whole = parsed(bytes);
        for (size_t split = 1; split < bytes.size(); ++split)
            ASSERT_EQ(whole, parsedInTwo(bytes, split)) << "row " << i << ", split at " << split;
    }
}

TEST(CommandParser, LimitsDoNotDependOnHowTheStreamIsSplit) {
    cmdparse::Limits limits;
    limits.maxLine = 32;
    limits.maxQuoted = 8;
    limits.maxRaster = 64;
    const Row cases[] = {
        // 0: a line of exactly the limit, one over it, and one far over it
        {std::string(32, 'Z') + "\r" + std::string(33, 'Z') + "\r" + std::string(80, 'Z') + "\rCB\r", R"({"offset":0,"source":"parser","message":"unknown command \"ZZZZZZZZZZZZZZZZ...\""}
{"offset":33,"source":"parser","message":"line longer than 32 bytes: \"ZZZZZZZZZZZZZZZZ...\""}
{"offset":67,"source":"parser","message":"line longer than 32 bytes: \"ZZZZZZZZZZZZZZZZ...\""}
{"offset":148,"length":3,"command":"CB"}
)"},
        // 1: quoted data of exactly the limit, and one byte over it
        {"T1,2,3,1,1,0,0,N,N,'12345678'\rT1,2,3,1,1,0,0,N,N,'123456789'\rCB\r", R"({"offset":0,"length":30,"command":"T","x":1,"y":2,"font":3,"xMultiplier":1,"yMultiplier":1,"reserved":0,"rotation":0,"fixed":"N","bold":"N","data":"12345678","dataHex":"3132333435363738"}
{"offset":49,"source":"parser","message":"quoted field longer than 8 bytes"}
{"offset":61,"length":3,"command":"CB"}
)"},
        // 2: quoted data over the limit holding quotes, and a CR inside
        {"V1,2,U,0,0,0,N,N,N,0,L,0,'abc'defgh'ij\rkl'\rCB\r", R"({"offset":25,"source":"parser","message":"quoted field longer than 8 bytes"}
{"offset":39,"source":"parser","message":"unknown command \"kl'\""}
{"offset":43,"length":3,"command":"CB"}
)"},
        // 3: a header of exactly the limit, one over it, and one far over it without its quote
        {"B1" + std::string(14, '0') + "1,2,3,4,5,6,7,8,'A'\rB1" + std::string(15, '0') + "1,2,3,4,5,6,7,8,'A'\rB1" +
             std::string(40, '1') + "\rCB\r",
         R"({"offset":0,"length":36,"command":"B1","x":1,"y":2,"type":3,"narrow":4,"wide":5,"height":6,"rotation":7,"readable":8,"data":"A","dataHex":"41"}
{"offset":36,"source":"parser","message":"header longer than 32 bytes"}
{"offset":73,"source":"parser","message":"header longer than 32 bytes"}
{"offset":116,"length":3,"command":"CB"}
)"},
        // 4: a bitmap of exactly the limit, and one announcing more
        {b("LD\x01\x00\x02\x00\x08\x00\x08\x00", 10) + std::string(64, '\x55') + "\r" +
             b("LCR\x00\x01\x00\x02\x00\x09\x00\x08\x00\x00\x48\rCB\r", 18),
         R"({"offset":0,"length":75,"command":"LD","x":1,"y":2,"bytesPerRow":8,"rows":8,"streamBytes":64,"raster":"8c8f2757152487e5"}
{"offset":75,"source":"parser","message":"LCR: bitmap of 72 bytes exceeds the limit of 64"}
{"offset":90,"length":3,"command":"CB"}
)"},
        // 5: quoted data over the limit whose first byte is CR: parsing resumes right behind that CR
        {"T1,2,3,1,1,0,0,N,N,'\rCB\r123456789\rP1,1\r", R"({"offset":19,"source":"parser","message":"quoted field longer than 8 bytes"}
{"offset":21,"length":3,"command":"CB"}
{"offset":24,"source":"parser","message":"unknown command \"123456789\""}
{"offset":34,"length":5,"command":"P","labels":1,"copies":1}
)"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string &bytes = cases[i].bytes;
        EXPECT_EQ(cases[i].expected, parsed(bytes, limits)) << "case " << i;
        for (size_t split = 1; split < bytes.size(); ++split)
            ASSERT_EQ(cases[i].expected, parsedInTwo(bytes, split, limits)) << "case " << i << ", split at " << split;
        EXPECT_EQ(cases[i].expected, parsedBytewise(bytes, limits)) << "case " << i << ", byte by byte";
    }
}

// The default limits are those the tools' README gives: a line or header of
// 4096 bytes, quoted data of 64 KiB, a bitmap of 16 MiB.
TEST(CommandParser, DefaultLimits) {
    const std::string text = "T1,2,3,1,1,0,0,N,N,'";
    const struct {
        std::string bytes;
        std::string expected;  // a part of the JSON lines
    } cases[] = {
        // 0, 1: a line of 4096 bytes, and one of 4097
        {std::string(4096, 'Z') + "\r", "unknown command"},
        {std::string(4097, 'Z') + "\r", "line longer than 4096 bytes"},
        // 2, 3: a header of 4096 bytes up to its quote, and one of 4097
        {"B1" + std::string(4078, '0') + "1,2,3,4,5,6,7,8,'A'\r", R"("command":"B1")"},
        {"B1" + std::string(4079, '0') + "1,2,3,4,5,6,7,8,'A'\r", "header longer than 4096 bytes"},
        // 4, 5: quoted data of 64 KiB, and one byte more
        {text + std::string(65536, 'a') + "'\r", R"("command":"T")"},
        {text + std::string(65537, 'a') + "'\r", "quoted field longer than 65536 bytes"},
        // 6, 7: bitmaps of 512 x 32768 = 16 MiB bytes (whose data never comes), and of 512 x 32769
        {b("LD\x00\x00\x00\x00\x00\x02\x00\x80", 10), "LD: bitmap data incomplete, 0 of 16777216 bytes"},
        {b("LD\x00\x00\x00\x00\x00\x02\x01\x80", 10), "LD: bitmap of 16777728 bytes exceeds the limit of 16777216"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string out = parsed(cases[i].bytes);
        EXPECT_NE(std::string::npos, out.find(cases[i].expected)) << "row " << i << ": " << out.substr(0, 200);
    }
}

// A long stream fed in pieces that each end one byte into a command: the
// parser drops the bytes it has consumed instead of holding the whole stream.
TEST(CommandParser, MemoryHeldIsBounded) {
    const std::string unit = "CB\rBD1,2,3,4,O\r";  // two commands in 15 bytes
    std::string piece;
    for (int i = 0; i < 60; ++i)
        piece += unit.substr(1) + unit[0];
    cmdparse::Parser parser;
    parser.feed(unit.substr(0, 1));
    size_t most = 0, commands = 0;
    for (int i = 0; i < 1000; ++i) {  // 900 KB
        parser.feed(piece);
        most = std::max(most, parser.held());
        commands += parser.take().size();
    }
    EXPECT_EQ(1000u * 120, commands);
    EXPECT_LE(most, 65536u + piece.size());
}

TEST(CommandParser, RandomSplitsGiveTheSameResult) {
    std::string all;
    for (const Row &row : rows())
        if (row.expected.find("end of input") == std::string::npos &&
            row.expected.find("incomplete") == std::string::npos)
            all += row.bytes;
    const std::string whole = parsed(all);
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        cmdparse::Parser parser;
        std::vector<Event> events;
        for (size_t at = 0; at < all.size();) {
            const size_t size = std::min<size_t>(all.size() - at, random() % 40);
            parser.feed(all.data() + at, size);
            at += size;
            for (Event &event : parser.take())
                events.push_back(std::move(event));
        }
        parser.finish();
        for (Event &event : parser.take())
            events.push_back(std::move(event));
        ASSERT_EQ(whole, lines(events)) << "round " << round;
    }
}

TEST(CommandParser, DecodedRastersMatchTheSentBits) {
    // Every raster sent as LD or LCR comes back bit for bit.
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const unsigned bytesPerRow = 1 + random() % 40, rowCount = 1 + random() % 40;
        std::vector<uint8_t> raster(bytesPerRow * rowCount);
        for (uint8_t &byte : raster) {
            const unsigned pick = random() % 4;
            byte = pick == 0 ? 0x00 : pick == 1 ? 0xFF : static_cast<uint8_t>(random());
        }
        // The compressor's rules: runs of 0x00 and 0xFF up to 255, other bytes literal.
        std::string stream;
        for (size_t i = 0; i < raster.size();) {
            const uint8_t byte = raster[i];
            if (byte != 0x00 && byte != 0xFF) {
                stream.push_back(static_cast<char>(byte));
                ++i;
                continue;
            }
            size_t count = 1;
            while (i + count < raster.size() && raster[i + count] == byte && count < 255)
                ++count;
            stream.push_back(static_cast<char>(byte));
            stream.push_back(static_cast<char>(count));
            i += count;
        }
        const char header[] = {static_cast<char>(bytesPerRow), 0, static_cast<char>(rowCount), 0};
        std::string ld = std::string("LD\x05\x00\x06\x00", 6) + std::string(header, 4) +
                         std::string(raster.begin(), raster.end()) + "\r";
        std::string lcr = std::string("LCR\x00\x05\x00\x06\x00", 8) + std::string(header, 4) + stream + "\r";
        for (const std::string &bytes : {ld, lcr}) {
            const std::vector<Event> events = cmdparse::parseAll(bytes);
            ASSERT_EQ(1u, events.size()) << "round " << round << ": " << lines(events);
            const auto &bitmap = std::get<cmdparse::Bitmap>(std::get<cmdparse::Command>(events[0]).body);
            ASSERT_EQ(raster, bitmap.raster) << "round " << round;
            EXPECT_EQ(5, bitmap.x);
            EXPECT_EQ(6, bitmap.y);
        }
    }
}

TEST(CommandParser, RunLengthExamples) {
    struct Case {
        std::string stream;
        size_t total;
        std::vector<uint8_t> raster;
        size_t used;  // 0: the stream ended first
        bool overrun;
    };
    const Case cases[] = {
        // 0: 600 zero bytes
        {b("\x00\xFF\x00\xFF\x00\x5A", 6), 600, std::vector<uint8_t>(600, 0), 6, false},
        // 1: mixed runs and literals
        {b("\x00\x03\x12\xFF\x01\x34", 6), 6, {0, 0, 0, 0x12, 0xFF, 0x34}, 6, false},
        // 2: a run that reaches the end; bytes after it are not used
        {b("\x12\x00\x03\x77", 4), 4, {0x12, 0, 0, 0}, 3, false},
        // 3: a run that goes past the end is cut
        {b("\x12\xFF\x09", 3), 4, {0x12, 0xFF, 0xFF, 0xFF}, 3, true},
        // 4, 5: the stream ends before the raster is full, or between a run's byte and its count
        {b("\x12\x00\x02", 3), 4, {0x12, 0, 0}, 0, false},
        {b("\x12\x00", 2), 4, {0x12}, 0, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        // The stream is a view into longer memory, whose next byte would be
        // taken as a literal or a count; the raster starts with stale bytes.
        const std::string memory = cases[i].stream + "\x05\x05";
        const std::string_view stream(memory.data(), cases[i].stream.size());
        std::vector<uint8_t> raster{0x99, 0x99};
        bool overrun = !cases[i].overrun;
        EXPECT_EQ(cases[i].used, cmdparse::decodeRunLength(stream, cases[i].total, raster, overrun))
            << "row " << i;
        EXPECT_EQ(cases[i].raster, raster) << "row " << i;
        EXPECT_EQ(cases[i].overrun, overrun) << "row " << i;
    }
}

TEST(CommandParser, LimitsBoundWhatIsHeld) {
    cmdparse::Limits limits;
    limits.maxLine = 64;
    limits.maxQuoted = 100;
    limits.maxRaster = 1000;
    // 0: a line with no CR for far longer than the limit is dropped up to its CR
    std::string text = std::string(10000, 'Z') + "\rP1,1\r";
    std::string out = lines(cmdparse::parseAll(text, limits));
    EXPECT_NE(out.find("line longer than 64 bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("\"command\":\"P\""), std::string::npos) << out;
    // 1: a quoted field longer than the limit is given up, and parsing
    // resumes after the first CR inside it
    text = "T1,2,3,1,1,0,0,N,N,'" + std::string(500, 'a') + "\rP1,1\r";
    cmdparse::Parser parser(limits);
    for (char c : text)
        parser.feed(&c, 1);
    out = lines(parser.take());
    EXPECT_NE(out.find("quoted field longer than 100 bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("\"command\":\"P\""), std::string::npos) << out;
    // 2: a bitmap larger than the limit is refused; parsing resumes at the next CR
    text = b("LD\x00\x00\x00\x00\xFF\xFF\xFF\xFF", 10) + "junk\rCB\r";
    out = lines(cmdparse::parseAll(text, limits));
    EXPECT_NE(out.find("exceeds the limit of 1000"), std::string::npos) << out;
    EXPECT_NE(out.find("\"command\":\"CB\""), std::string::npos) << out;
}

// fed() counts every byte given to the parser, those of a command still
// incomplete included: the job directory cuts a label's raw bytes by it.
TEST(CommandParser, FedCountsEveryByte) {
    cmdparse::Parser parser;
    const std::string pieces[] = {"CB\rP1,", "1\r", b("LD\x00\x00\x00\x00\x02\x00\x02", 9), b("\x00\x11", 2),
                                  "\x22", "\r\n", "T1,2,3,1,1,0,0,N,N,'a'", "b"};
    uint64_t total = 0;
    for (const std::string &piece : pieces) {
        parser.feed(piece);
        total += piece.size();
        EXPECT_EQ(total, parser.fed()) << vren::test::hex(piece);
    }
    parser.finish();
    EXPECT_EQ(total, parser.fed());
}

// A bitmap header announcing a raster within the limit, whose data has not
// come yet, does not make the parser set aside memory for the whole raster:
// many connections sending 12 bytes each must not take 16 MiB each.
TEST(CommandParser, BitmapHeaderAloneHoldsLittleMemory) {
    if (!vren::test::kCanLimitMemory)
        GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
    const std::string header = b("LD\x00\x00\x00\x00\x00\x02\x00\x80", 10);  // 512 x 32768 = 16 MiB
    // Runs in a child process whose address space it limits: 0 when every
    // header was taken in, 1 out of memory, 2 unexpected events.
    const auto headersTaken = [&header] {
        std::vector<cmdparse::Parser> parsers(16);
        vren::test::limitAddressSpace(size_t{64} << 20);
        try {
            for (cmdparse::Parser &parser : parsers) {
                parser.feed(header);
                parser.feed("\x01");
                if (!parser.take().empty())
                    return 2;
            }
        } catch (const std::bad_alloc &) {
            return 1;
        }
        return 0;
    };
    EXPECT_EXIT(std::exit(headersTaken()), ::testing::ExitedWithCode(0), "");
}

// Text bytes back to code points: UTF-8 checked sequence by sequence, code
// pages through iconv; each byte that does not decode is one U+FFFD.
TEST(TextDecoding, BytesToCodePoints) {
    const std::u32string hangul(200, U'\uD55C');
    std::string cp949;
    for (size_t i = 0; i < hangul.size(); ++i)
        cp949 += "\xC7\xD1";
    const struct {
        std::string bytes;
        std::string encoding;
        std::u32string expected;
        bool replaced;
    } cases[] = {
        {"A\xC3\xA9\xE2\x82\xAC", "", U"A\u00E9\u20AC", false},        // 0: one, two and three bytes
        {"\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", "", U"\U0001F600\U0010FFFF", false},  // 1: four bytes
        {"\x80", "", U"\uFFFD", true},                                  // 2: a lone continuation byte
        {"\xC3\x41", "", U"\uFFFDA", true},                             // 3: a lead byte without its continuation
        {"\xC1\x81", "", U"\uFFFD\uFFFD", true},                        // 4: overlong two bytes
        {"\xF0\x8F\xBF\xBF", "", std::u32string(4, U'\uFFFD'), true},  // 5: overlong four bytes
        {"\xF4\x90\x80\x80", "", std::u32string(4, U'\uFFFD'), true},  // 6: above U+10FFFF
        {"\xED\xA0\x80", "", std::u32string(3, U'\uFFFD'), true},       // 7: the first surrogate
        {"A\xE2\x82", "", U"A\uFFFD\uFFFD", true},                      // 8: cut at the end
        {"\xC7\xD1", "CP949", U"\uD55C", false},                         // 9
        {"A\xFF" "B\xC7", "CP949", U"A\uFFFDB\uFFFD", true},             // 10: an invalid byte, a lead byte cut
        {cp949, "CP949", hangul, false},                                  // 11: more than one chunk of output
        {"A\xE9", "NO-SUCH-CODE-PAGE", U"A\u00E9", true},                 // 12: unknown code page: Latin-1
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        bool replaced = !cases[i].replaced;
        EXPECT_TRUE(cases[i].expected == render::decodeText(cases[i].bytes, cases[i].encoding, replaced))
            << "row " << i;
        EXPECT_EQ(cases[i].replaced, replaced) << "row " << i;
    }
}

}  // namespace
