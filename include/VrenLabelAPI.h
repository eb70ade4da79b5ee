/*
 * VrenLabelAPI.h - C interface of libVrenLabelAPI, a driver library for VREN
 * thermal label printers.
 *
 * Usable from C (C99 or later) and C++.
 *
 * The model
 * ---------
 * The library holds ONE printer connection per process (its descriptor is
 * close-on-exec: child processes do not inherit it). ConnectToPrinter()
 * opens it, the composition functions append printer commands to a 4096-byte
 * command buffer (gPrintData), Prints() appends the print command and sends
 * the buffer, DisconnectPrinter() closes the connection. Settings, control
 * commands, the status query, raw output and bitmaps are written to the
 * printer at once, bypassing the command buffer.
 *
 * Results
 * -------
 * Every function returns an int: 0 (or a count, status value or descriptor
 * where the function says so) on success, one of the negative VREN_E_* codes
 * below on failure.
 *
 * Threads
 * -------
 * The library starts no threads and takes no locks. All state is process-wide;
 * calls must not overlap. Use the library from one thread at a time.
 *
 * Timing
 * ------
 * Printer I/O is non-blocking and paced by fixed pauses: every write waits at
 * least 10 ms, every read at least 130 ms. Identifying a printer during
 * ConnectToPrinter() takes about a second. Signals that the application
 * receives (a timer, for one) do not shorten the pauses.
 *
 * Debug log
 * ---------
 * Nearly every function appends time-stamped trace records to the file
 * "VRENLinuxSDKLog.txt" in the current working directory, one record per
 * byte written to or read from the printer included. The file is created when
 * missing (readable and writable by its owner only: it holds every byte
 * printed) and never truncated; it is never opened through a symbolic link and
 * not inherited by child processes. Every write to it holds whole records, so
 * that processes sharing one log do not tear each other's records. There is
 * no switch to turn it off.
 */
#ifndef VREN_LABEL_API_H
#define VREN_LABEL_API_H

#include <stdint.h>

#if defined(__GNUC__)
#define VREN_API __attribute__((visibility("default")))
#define VREN_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VREN_API
#define VREN_PRINTF_LIKE(fmt, args)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Result codes                                                             */
/* ------------------------------------------------------------------------ */

enum VrenResult {
    VREN_OK = 0,
    /** Serial line configuration failed; network socket option or connect failed. */
    VREN_E_LINE_CONFIG = -99,
    /** Device open failed: no USB printer node (errno ENODEV) or none this user may open
        (errno EACCES), or the serial/parallel node did not open. */
    VREN_E_OPEN = -100,
    /** A USB printer node was found but no printer was accepted; identification failed. */
    VREN_E_NOT_ACCEPTED = -101,
    /** Transport write gave up after a sixth failed attempt in one call (see writeData()). */
    VREN_E_WRITE_GAVE_UP = -102,
    /** Applying the serial line attributes failed. */
    VREN_E_SERIAL_ATTR = -104,
    /** A command was not written completely; code-page conversion failed; bad arguments. */
    VREN_E_WRITE = -105,
    /** Nothing was read back (status query, raw read); no usable model reply. */
    VREN_E_READ = -106,
    /** Bluetooth service-discovery connection failed. */
    VREN_E_BT_SDP_CONNECT = -107,
    /** Bluetooth serial-port service not found after five searches. */
    VREN_E_BT_NO_SERVICE = -108,
    /** Bluetooth socket creation failed (spp_connect only). */
    VREN_E_BT_SOCKET = -109,
    /** Bluetooth socket bind failed (spp_connect only). */
    VREN_E_BT_BIND = -110,
    /** Bluetooth connection failed five times. */
    VREN_E_BT_CONNECT = -111,
    /** Invalid network address (host not a dotted IPv4 address, port outside 1..65535). */
    VREN_E_ADDRESS = -112,
    /** Network socket creation failed. */
    VREN_E_SOCKET = -113,
    /** Image file open failed. */
    VREN_E_IMAGE_OPEN = -118,
    /** Image is not a BMP file, its bit depth is unsupported, or it is malformed. */
    VREN_E_IMAGE_FORMAT = -119,
    /** Memory allocation failed. */
    VREN_E_NOMEM = -120,
    /** Invalid block option. */
    VREN_E_BLOCK_OPTION = -124
};

/* Interface kinds, as selected by the address given to ConnectToPrinter(). */
enum VrenInterface {
    VREN_IF_USB = 0,
    VREN_IF_SERIAL = 1,
    VREN_IF_PARALLEL = 2,
    VREN_IF_NETWORK = 3,
    VREN_IF_BLUETOOTH = 4
};

/* ------------------------------------------------------------------------ */
/* Exported data                                                            */
/* ------------------------------------------------------------------------ */

#define VREN_PRINT_DATA_SIZE 4096
#define VREN_FLUSH_THRESHOLD 3584
#define VREN_MODEL_TABLE_SIZE 200

/** Command buffer: composed commands waiting to be sent, in order. */
extern VREN_API unsigned char gPrintData[VREN_PRINT_DATA_SIZE];
/**
 * Number of bytes in use in gPrintData. An application that sets it past
 * VREN_PRINT_DATA_SIZE gets VREN_E_WRITE ("Invalid buffer index : %u") from
 * every call that would use the buffer, until initDataBuffer() or a successful
 * ConnectToPrinter() empties the buffer.
 */
extern VREN_API uint32_t gDataIndex;
/** 1 while a printer is connected and accepted, else 0. Informational only. */
extern VREN_API unsigned char gConnectedPrinter;
/** Index of the identified model in KORVEL_DEVICE (151..199); 0 when none. */
extern VREN_API uint32_t gPrinterModel;
/**
 * Model table. Entry 0 is the manufacturer word "VREN"; entries 151 to 199 are
 * model names ("LQ1", "LQ2", the rest null). All other entries are null.
 */
extern VREN_API const char *const KORVEL_DEVICE[VREN_MODEL_TABLE_SIZE];

/* ------------------------------------------------------------------------ */
/* Connection                                                               */
/* ------------------------------------------------------------------------ */

/**
 * Opens the printer connection and identifies the printer.
 *
 * The address selects the interface by the first rule that matches, in this
 * order (prefixes compare without regard to case):
 *   "USB..."                      first accepted USB printer (/dev/usblp*, /dev/usb/lp*,
 *                                 /dev/usb/usblp*); text after "USB" is ignored
 *   "SERIAL:<baud>"               first of /dev/ttyS0../dev/ttyS9 that opens
 *   "/dev/ttyS<n>:<baud>"         that serial port
 *   "PARALLEL"                    first of /dev/lp0../dev/lp9 that opens
 *   "/dev/lp<n>"                  that parallel port (the whole address is the path)
 *   "AA:BB:CC:DD:EE:FF"           Bluetooth serial-port profile
 *   "192.168.0.10:9100"           TCP over IPv4 (dotted address, colon, port);
 *                                 anything else is read this way
 * Serial addresses need the colon (without it they are read as network
 * addresses). The baud rate is read as atoi() reads it; 2400, 4800, 9600,
 * 19200, 38400, 57600 and 115200 are used as given, any other value runs the
 * line at 9600. A serial port is opened, closed and opened again. Host names
 * are not resolved; only the first 64 characters of a network address are
 * split into host and port. The port is read as atoi() reads it and must be
 * 1..65535 (else VREN_E_ADDRESS, "Invalid port number : <port>").
 *
 * After the device opened, it is switched to non-blocking mode, the model
 * query "^PI0" CR LF is sent, and the reply (read up to 5 times) must name a
 * model of KORVEL_DEVICE; gPrinterModel receives its index. On success any
 * earlier connection is closed, gConnectedPrinter is set, the command buffer
 * is cleared and 0 is returned. On failure the earlier connection (if any)
 * stays open and in use, as it was: the line attributes of a kept serial
 * connection, which an attempt on the same device changes, are put back
 * (input that attempt discarded stays discarded).
 *
 * Returns 0; VREN_E_ADDRESS (not an address of any form, or null; nothing
 * opened); VREN_E_NOT_ACCEPTED (the printer was not identified; the new
 * descriptor is closed); or the opener's code, unchanged: VREN_E_LINE_CONFIG,
 * VREN_E_OPEN, VREN_E_NOT_ACCEPTED (USB), VREN_E_SERIAL_ATTR,
 * VREN_E_BT_SDP_CONNECT, VREN_E_BT_NO_SERVICE, VREN_E_BT_CONNECT, VREN_E_SOCKET;
 * or VREN_E_NOMEM (a serial device name that could not be copied for lack
 * of memory; nothing opened).
 */
VREN_API int ConnectToPrinter(const char *address);

/**
 * Closes the connection. Returns 0, or -1 when no connection is open or the
 * close failed. The command buffer keeps its contents. A network connection
 * is closed only once the printer has taken everything sent (or closed its
 * side): the library stops sending and reads and drops what the printer sent,
 * since closing a TCP connection with unread bytes resets it and loses what
 * was still on its way. It gives up when the printer neither takes nor sends
 * anything for 2 s. ConnectToPrinter() closes an earlier connection the same
 * way.
 */
VREN_API int DisconnectPrinter(void);

/* ------------------------------------------------------------------------ */
/* Job output and raw I/O                                                   */
/* ------------------------------------------------------------------------ */

/**
 * Appends the print command "P<labels>,<copies>\r" (both counts as given,
 * signed decimal) and sends the whole command buffer in one transport call,
 * whatever its fill level. The buffer is cleared when it went out completely.
 * Returns 0 or VREN_E_WRITE: the buffer then keeps what the printer did not
 * take, the print command included, so that a later Prints() sends the label
 * and both print commands. The composition functions leave room for one print
 * command at the end of the buffer; only behind print commands of earlier
 * failed calls may the room run out, and the buffer is then sent first, the
 * new print command kept only if that send made room for it.
 */
VREN_API int Prints(int labels, int copies);

/**
 * Sends the printer's clear command "CB\r" at once, ahead of anything waiting
 * in the command buffer. gPrintData and gDataIndex are not touched.
 * Returns 0 or VREN_E_WRITE.
 */
VREN_API int ClearBuffer(void);

/**
 * Raw I/O. Writes writeLength bytes of writeBuffer at once, bypassing the
 * command buffer (skipped when writeBuffer is null or writeLength is 0), then,
 * when readBuffer is not null and *readLength is not 0, reads at most
 * *readLength bytes (never more than 512) into readBuffer and stores the count
 * in *readLength. Output longer than one transport call carries is sent in
 * several calls, so that it arrives whole.
 *
 * Returns 0; VREN_E_WRITE when the write was incomplete (the read is then
 * skipped) or writeLength is negative; VREN_E_READ when nothing was read
 * (*readLength is then 0), *readLength is negative, or readLength is null
 * while readBuffer is not. Negative lengths are refused before anything is
 * written or read.
 */
VREN_API int DirectIO(const void *writeBuffer, int writeLength, void *readBuffer, int *readLength);

/* ------------------------------------------------------------------------ */
/* Text                                                                     */
/* ------------------------------------------------------------------------ */
/*
 * The composition functions below (text, graphics, barcodes) append one
 * command each to the command buffer and then run bufferCheck(). A command
 * that does not fit into the buffer's free space is preceded by sending the
 * buffer; a command longer than the whole buffer is streamed to the printer
 * right after it, so commands of any length arrive whole and in order. When
 * a send of the buffer fails, the buffer keeps only the bytes the printer did
 * not take, so that the next send goes on where this one stopped.
 *
 * Text and barcode data follow the command's header as a quoted field: a
 * single quote, the bytes up to the terminating NUL (not escaped), a single
 * quote and a carriage return. The printer ends the field at the first quote
 * followed by a carriage return, so data holding that pair is refused with
 * VREN_E_WRITE, the pair's offset in the field's bytes logged ("Quote followed
 * by CR at offset <n>: data refused"), and nothing is appended; any other
 * byte, a quote or a carriage return alone included, goes out as it is.
 *
 * Arguments out of their accepted range are never an error: each is replaced
 * by its default, and the replacement is written. One-byte flags
 * (unsigned char) are off when 0 and on for any other value.
 *
 * Results: 0; VREN_E_WRITE when data is null (nothing appended, "data is null"
 * logged) or holds a quote followed by a carriage return, when a send of the
 * buffer was incomplete, or, for text that is converted, when the conversion
 * failed; VREN_E_NOMEM when the conversion's
 * output area, or the memory for a command longer than the whole buffer,
 * could not be allocated. A text command that fails its conversion leaves
 * the command buffer as it was.
 */

/*
 * Code pages of convertData() and of the W text functions:
 *   0 EUC-KR, 1 CP949, 2 EUC-CN, 3 GB18030, 4 BIG5, 5 CP950, 6 EUC-JP,
 *   7 CP932, 8 CP874.
 * The text is given in UTF-8. A character the code page lacks, or invalid or
 * incomplete UTF-8, fails the conversion (no replacement characters). Any
 * other code page number sends the text unconverted ("Wrong code page.").
 */

/**
 * Text in a device font: "T<x>,<y>,<font>,<xMultiplier>,<yMultiplier>,0,<rotation>,N,<B|N>,"
 * and the text as a quoted field.
 *   font         0..9 (written as a number) or 97..110 (written as the letter
 *                a..n); else 3
 *   xMultiplier, yMultiplier  1..9, else 1
 *   rotation     0..3, else 0
 *   bold         flag: B or N
 * Fonts a..f convert the text to EUC-KR, j to CP932, m to GB18030, n to BIG5;
 * all other fonts send it unchanged.
 */
VREN_API int PrintDeviceFont(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                             int rotation, unsigned char bold);

/**
 * PrintDeviceFont() with the caller's code page: fonts 1..8 send the text
 * unchanged, fonts 0, 9 and a..n convert it to codePage (after the font's
 * normalisation, so an out-of-range font, written as 3, sends it unchanged).
 */
VREN_API int PrintDeviceFontW(const char *data, int x, int y, int font, int xMultiplier, int yMultiplier,
                              int rotation, unsigned char bold, int codePage);

/**
 * Text in a vector font:
 * "V<x>,<y>,<font letter>,<width>,<height>,<spacing>,<B|N>,<R|N>,<I|N>,<rotation>,<alignment>,<lastOption>,"
 * and the text as a quoted field.
 *   font         1 K, 2 B, 3 G, 4 J, 5 a, 6 b; any other value is written as U
 *   width, height, spacing, x, y   written unchanged
 *   bold, reverse, italic          flags: B, R, I when on, else N
 *   rotation     0..3, else 0
 *   alignment    1 C, 2 R, any other value L
 *   lastOption   0..1, else 0
 * Fonts 1 (K) convert the text to EUC-KR, 2 (B) to BIG5, 3 (G) to GB18030,
 * 4 (J) to CP932; all other values send it unchanged.
 */
VREN_API int PrintVectorFont(const char *data, int x, int y, int font, int width, int height, int spacing,
                             unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                             int alignment, int lastOption);

/**
 * PrintVectorFont() with the caller's code page: font 0 sends the text
 * unchanged, every other font value (those written as U included) converts it
 * to codePage.
 */
VREN_API int PrintVectorFontW(const char *data, int x, int y, int font, int width, int height, int spacing,
                              unsigned char bold, unsigned char reverse, unsigned char italic, int rotation,
                              int alignment, int lastOption, int codePage);

/* ------------------------------------------------------------------------ */
/* Graphics                                                                 */
/* ------------------------------------------------------------------------ */

/**
 * A block between two corners: "BD<startX>,<startY>,<endX>,<endY>,<letter>\r"
 * for options 0 O, 1 E, 2 D (thickness ignored), and
 * "BD<startX>,<startY>,<endX>,<endY>,<letter>,<thickness>\r" for 3 S, 4 B.
 * Returns 0, VREN_E_WRITE, or VREN_E_BLOCK_OPTION (nothing appended) for an
 * option outside 0..4.
 */
VREN_API int PrintBlock(int startX, int startY, int endX, int endY, int option, int thickness);

/**
 * A circle: "CD<x>,<y>,<size>,<multiplier>\r"; size 1..6, else 2;
 * multiplier 1..4, else 1. Returns 0 or VREN_E_WRITE.
 */
VREN_API int PrintCircle(int x, int y, int size, int multiplier);

/* ------------------------------------------------------------------------ */
/* Barcodes                                                                 */
/* ------------------------------------------------------------------------ */
/*
 * Each appends a header, the data as a quoted field, and runs bufferCheck().
 * Parameters named fieldN are written to field N of the header (x and y are
 * fields 1 and 2; in B2 and B3 field 3 is the symbology letter); what they
 * mean is the printer's. Accepted values are listed; others are replaced by
 * the default after "else". Each logs "start" and, whatever its result, "end".
 *
 * Results: 0; VREN_E_WRITE when data is null (nothing appended, "data is
 * null" logged) or holds a quote followed by a carriage return (see the
 * quoted field above), or when a send was incomplete: the buffer check's send
 * (the new command then stays in the buffer with what the printer did not
 * take), the send that had to
 * make room first (the command is then not appended), or the send of a
 * command longer than the whole buffer; VREN_E_NOMEM when such a command
 * could not be copied for sending (it is neither sent nor appended).
 */

/**
 * One-dimensional barcode: "B1<x>,<y>,<f3>,<f4>,<f5>,<f6>,0,<f8>,".
 *   field3 0..16, else 1; field4..field6 unchanged; field7 always written as
 *   0; field8 0..8, else 0. Logs "barcode data : <data>, <length>".
 */
VREN_API int Print1DBarcode(const char *data, int x, int y, int field3, int field4, int field5, int field6,
                            int field7, int field8);

/** MaxiCode: "B2<x>,<y>,M,<mode>,"; mode 0, 2, 3, 4, else 0. */
VREN_API int PrintMaxiCode(const char *data, int x, int y, int mode);

/**
 * PDF417: "B2<x>,<y>,P,<rows>,<columns>,<errorLevel>,<f7>,<f8>,<f9>,<f10>,<f11>,<f12>,".
 *   rows 3..90, else 30; columns 1..30, else 5; errorLevel 0..8, else 0;
 *   field7 0..2, else 0; field8 flag 1/0; field9 0 stays 0, else 1;
 *   field10 2..9, else 3; field11 4..99, else 10; field12 0..3, else 0.
 */
VREN_API int PrintPDF417(const char *data, int x, int y, int rows, int columns, int errorLevel, int field7,
                         unsigned char field8, int field9, int field10, int field11, int field12);

/**
 * QR code: "B2<x>,<y>,Q,<model>,<level letter>,<f6>,<f7>,".
 *   model 1..2, else 1; errorLevel 1 M, 2 Q, 3 H, any other value L;
 *   field6 1..4, else 4; field7 0..3, else 0.
 */
VREN_API int PrintQRCode(const char *data, int x, int y, int model, int errorLevel, int field6, int field7);

/**
 * Data Matrix: "B2<x>,<y>,D,<f4>,<R|N>,<f6>,".
 *   field4 1..4, else 2; field5 flag: R or N; field6 0..3, else 0.
 */
VREN_API int PrintDataMatrix(const char *data, int x, int y, int field4, unsigned char field5, int field6);

/**
 * Aztec: "B2<x>,<y>,A,<f4>,<f5>,<f6>,<f7>,<f8>,<f9>,<f10>,".
 *   field4 1..10, else 2; field5 0..1, else 0; field6 0..300, else 0;
 *   field7 flag 1/0; field8 1..26, else 15; field9 unchanged; field10 0..3, else 0.
 */
VREN_API int PrintAztec(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
                        int field8, int field9, int field10);

/**
 * Code 49: "B2<x>,<y>,F,<f4>,<f5>,<f6>,<f7>,<f8>,<f9>,".
 *   field4..field6 unchanged; field7 0..2, else 0; field8 0..7, else 0;
 *   field9 0..3, else 0.
 */
VREN_API int PrintCode49(const char *data, int x, int y, int field4, int field5, int field6, int field7, int field8,
                         int field9);

/**
 * CODABLOCK: "B2<x>,<y>,C,<f4>,<f5>,<f6>,<f7>,<f8>,<mode letter>,<f10>,0,".
 *   field4..field6 unchanged; field7 flag 1/0; field8 2..62, else 30;
 *   mode 0 A, 2 F, any other value E; field10 with mode 0: 1..18, else 10;
 *   with any other mode: 2..4, else 3.
 */
VREN_API int PrintCODABLOCK(const char *data, int x, int y, int field4, int field5, int field6, unsigned char field7,
                            int field8, int mode, int field10);

/**
 * MicroPDF417: "B2<x>,<y>,B,<f4>,<f5>,<f6>,<f7>,".
 *   field4 2..8, else 5; field5 1..99, else 50; field6 0..33, else 0;
 *   field7 0..3, else 0.
 */
VREN_API int PrintMicroPDF(const char *data, int x, int y, int field4, int field5, int field6, int field7);

/**
 * GS1 DataBar: "B3<x>,<y>,R,<f4>,<f5>,<f6>,<f7>,<segmentsPerRow>,<f9>,".
 *   field4 0..5, else 5; field5 1..10, else 1; field6 1..2, else 1;
 *   field7 unchanged; segmentsPerRow an even number 0..22, else 6;
 *   field9 0..3, else 0.
 */
VREN_API int PrintGS1DataBar(const char *data, int x, int y, int field4, int field5, int field6, int field7,
                             int segmentsPerRow, int field9);

/* ------------------------------------------------------------------------ */
/* Settings                                                                 */
/* ------------------------------------------------------------------------ */
/*
 * Each setting is written to the printer at once (ahead of commands still in
 * the command buffer). Returns 0 when the whole command was written, else
 * VREN_E_WRITE. Only after a complete write is the value recorded in the
 * settings cache below, which the library never reads itself.
 */

/** Last speed set (0..12). */
extern VREN_API int gSpeed;
/** Last density set (0..20). */
extern VREN_API int gDensity;
/** Last orientation set: 'T' (84) or 'B' (66). */
extern VREN_API int gOrientation;
/** Last cutter flag and cut period set, as passed. */
extern VREN_API unsigned char gAutoCut;
extern VREN_API int gCutPeriod;
/** Last rewinder flag set, as passed. */
extern VREN_API unsigned char gRewind;
/** Last offset set by SetOffset() (-100..100) or SetPaper() (as passed). */
extern VREN_API int gOffset;
/** Last cut position set (-100..100). */
extern VREN_API int gCutPosition;
/** Last printing type set, as passed. */
extern VREN_API int gPrintingType;
/** Last back-feed flag set, as its byte value. */
extern VREN_API int gBackFeeding;
/** Last paper set by SetPaper(), as passed. */
extern VREN_API int gPaperWidth;
extern VREN_API int gPaperHeight;
extern VREN_API int gMediaType;
extern VREN_API int gGapLength;
/** Last margins set, as passed. */
extern VREN_API int gHorizontalMargin;
extern VREN_API int gVerticalMargin;

/** "SS<speed>\r", speed clamped to 0..12. Logs "SPEED : <command>, <length>". */
VREN_API int SetSpeed(int speed);
/** "SD<density>\r", density clamped to 0..20. Logs "DENSITY : <command>, <length>". */
VREN_API int SetDensity(int density);
/** "SOT\r" or "SOB\r": orientation 'B' (66) gives B, any other value T. */
VREN_API int SetOrientation(int orientation);
/** Off: "CUTn\r\n"; on: "CUTy,<cutPeriod>\r\n", or "CUTy\r\n" when cutPeriod is 0. */
VREN_API int SetCutter(unsigned char autoCut, int cutPeriod);
/** "RWDy\r\n" (on) or "RWDn\r\n" (off). */
VREN_API int SetRewinder(unsigned char rewind);
/** "SA<offset>\r", offset clamped to -100..100. */
VREN_API int SetOffset(int offset);
/** "TA<cutPosition>\r", cutPosition clamped to -100..100. (The name is spelled so.) */
VREN_API int SetCutPostion(int cutPosition);
/** "STt\r" for printingType 1, "STd\r" for any other value. */
VREN_API int SetPrintingType(int printingType);
/** "SF1\r" (on) or "SF0\r" (off). */
VREN_API int SetBackFeed(unsigned char backFeeding);
/**
 * "SL<paperHeight>,<gapLength>,<media letter>,<offset>\rSW<paperWidth>\r" in
 * one write; mediaType 1 C, 2 B, any other value G; numbers unchanged.
 */
VREN_API int SetPaper(int paperWidth, int paperHeight, int mediaType, int offset, int gapLength);
/** "SM<horizontalMargin>,<verticalMargin>\r", numbers unchanged. */
VREN_API int SetMargin(int horizontalMargin, int verticalMargin);
/** "CS<characterSet>,<codeTable>\r"; characterSet 0..15, else 0; codeTable 0..255, else 0. Not cached. */
VREN_API int SetCharacterSet(int characterSet, int codeTable);

/* ------------------------------------------------------------------------ */
/* Control and status                                                       */
/* ------------------------------------------------------------------------ */

/** Writes "@\r" at once. Returns 0 or VREN_E_WRITE. */
VREN_API int InitializePrinter(void);
/** Writes "~JC\r\n" at once. Returns 0 or VREN_E_WRITE. */
VREN_API int CalibrateMedia(void);
/** Writes "~JR\r\n" at once. Returns 0 or VREN_E_WRITE. */
VREN_API int ResetPrinter(void);
/** Writes "~PH\r\n" at once. Returns 0 or VREN_E_WRITE. */
VREN_API int FeedOneLabel(void);

/* Error bits of the status byte, as returned by CheckPrinterStatus(). */
#define VREN_STATUS_RIBBON_END 0x04
#define VREN_STATUS_GAP_ERROR 0x08
#define VREN_STATUS_HEAD_OVERHEAT 0x10
#define VREN_STATUS_CUTTER_JAM 0x20
#define VREN_STATUS_COVER_OPEN 0x40
#define VREN_STATUS_PAPER_EMPTY 0x80

/** Error bits of the last status query (0 after a failed one). */
extern VREN_API unsigned char gStatus;

/**
 * Writes the status request "^cu\r" at once and reads the one-byte answer.
 * Input already waiting on the connection (a late answer to an earlier query)
 * is read and dropped before the request is written ("Discarded <n> bytes of
 * earlier input."), so that the answer read is this request's.
 * The answer is logged ("status : <two hex digits>"), then each error
 * condition set in it, one line each. Returns the error bits (VREN_STATUS_*;
 * 0 when the printer reports no error; bits 0x01 and 0x02 are dropped), also
 * stored in gStatus; VREN_E_WRITE when the request was not written
 * completely; VREN_E_READ when no answer came. gStatus is 0 after a failure.
 * Test for a negative result before testing bits: the codes are negative
 * ints, so a masked code would look like error bits.
 */
VREN_API int CheckPrinterStatus(void);

/* ------------------------------------------------------------------------ */
/* Images                                                                   */
/* ------------------------------------------------------------------------ */

/**
 * Image header: the 40-byte BMP information header, copied byte for byte
 * from offset 14 of the image file (little-endian fields, no padding).
 * The loaders fill it; resizeImage() rewrites biWidth and biHeight; the bitmap
 * commands read biWidth and biHeight only. After a successful load biHeight is
 * the number of raster rows (a top-down file's negative height is made
 * positive, because the raster is always top row first).
 */
typedef struct VrenImageHeader {
    uint32_t biSize;          /* size of the information header in the file */
    int32_t biWidth;          /* width in pixels */
    int32_t biHeight;         /* rows; negative in a top-down file */
    uint16_t biPlanes;
    uint16_t biBitCount;      /* bits per pixel */
    uint32_t biCompression;   /* 0: uncompressed rows */
    uint32_t biSizeImage;     /* bytes of pixel data; 0 allowed when uncompressed */
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} VrenImageHeader;

/* The record is exactly the 40 bytes of the file's information header. */
typedef char VrenImageHeaderIs40Bytes[sizeof(VrenImageHeader) == 40 ? 1 : -1];

/**
 * Prints an image file at dot position (x, y) of the label as a bitmap
 * command, written to the printer at once (ahead of anything still waiting in
 * the command buffer; no print command is sent). The file is loaded with
 * loadImage() at its own size. compress selects the command: 0 sends the raw
 * raster as "LD", any other value the run-length compressed raster as "LCR".
 *
 * Returns 0; the loader's VREN_E_IMAGE_OPEN, VREN_E_IMAGE_FORMAT or
 * VREN_E_NOMEM; VREN_E_IMAGE_FORMAT when the image has more than 65535 rows or
 * bytes per row; VREN_E_NOMEM when the compressor could not allocate (nothing
 * sent); VREN_E_WRITE when the command did not reach the printer whole.
 */
VREN_API int PrintBitmap(const char *path, int x, int y, unsigned char compress);

/**
 * Reads an image file into a 1-bit raster: biHeight rows of (biWidth + 7) / 8
 * bytes, top row first, most significant bit leftmost, 1 = a printed dot. A
 * pixel stays blank exactly when its blue, green and red are all 255.
 *
 * BMP files of 4, 8 and 24 bits per pixel (uncompressed, bottom-up or
 * top-down) are decoded directly. Files whose extension (the text after the
 * last '.') begins with "jpg" or "gif", and files whose extension begins with
 * "bmp" that have 1 or 32 bits per pixel or compressed pixel data, are first
 * converted to a true-colour BMP by ImageMagick's "convert", which writes a
 * temporary file "<path up to its last '.'>temp1sa3.bmp" (or a unique variant
 * of that name ending in ".bmp" when the name is taken); the file is removed
 * afterwards. Of an image of several frames (an animated GIF) only the first
 * is converted, whatever the path, so the converter writes nothing else. The
 * converter's exit status is not examined: a conversion that wrote nothing
 * fails as VREN_E_IMAGE_OPEN, and why (a converter that cannot be started, a
 * temporary file that cannot be made) is told on the standard error, as the
 * converter tells its own failures. Extensions are compared case-sensitively:
 * ".JPG" and ".BMP" are not converted. Other files are read as BMP files whatever their name; 1-bit
 * BMP files reached that way are decoded directly. Files of other depths (16
 * bits, for one) are refused.
 *
 * path:   the image file.
 * raster: receives the raster, allocated with calloc; on success the caller
 *         owns it and releases it with free(). Untouched on failure.
 * header: receives the image header (filled once the file proved to be a
 *         BMP file, also when a later step fails).
 * width:  0 (or the image's own width) for no scaling, else the width to
 *         scale to, keeping the aspect ratio (see resizeImage()).
 *
 * Returns 0; VREN_E_IMAGE_OPEN when the file (or the converter's output)
 * cannot be read; VREN_E_IMAGE_FORMAT when it is not a BMP file, its bit
 * depth is unsupported, it is compressed, or it is malformed (shorter than its
 * headers declare, pixel data or colour table past its end, an impossible
 * size); VREN_E_NOMEM when memory runs out.
 */
VREN_API int loadImage(const char *path, unsigned char **raster, VrenImageHeader *header, int32_t width);

/**
 * Like loadImage() without scaling, except that only files whose extension
 * begins with "jpg" or "gif" are converted, to monochrome ("convert
 * -monochrome"), and BMP files are never probed: 1-bit BMP files are decoded
 * directly, 32-bit ones are refused with VREN_E_IMAGE_FORMAT. The colour
 * table is read at file offset 54, or right after a longer information
 * header (loadImage() reads it at 14 + biSize, and refuses a palette file
 * whose biSize is below 40).
 */
VREN_API int loadImage1(const char *path, unsigned char **raster, VrenImageHeader *header);

/**
 * Bits per pixel of a BMP file (biBitCount, 0 to 65535).
 * Returns it, or VREN_E_IMAGE_OPEN, or VREN_E_IMAGE_FORMAT when the file is
 * not a BMP file or too short to hold the field.
 */
VREN_API int GetImageBit(const char *path);

/**
 * Scales an image held as one byte per pixel (0 white, 1 dot; biWidth bytes
 * per row, biHeight rows, top row first) to `width` pixels by nearest
 * neighbour, keeping the aspect ratio, and packs it into a raster as
 * loadImage() describes. The new height is biHeight x (width / biWidth),
 * truncated. Output column k samples source column k x (biWidth - 1) / width
 * + 0.5, truncated (rows likewise with (biHeight - 1) / new height), in single
 * precision: halves round up, and the last source column is reached only when
 * width >= 2 x (biWidth - 1), so scaling to the same width is no identity.
 * On success *scaled receives the raster (calloc, width x new
 * height bytes of which the rows use the first (width + 7) / 8 per row, the
 * rest 0; the caller frees it) and header->biWidth, header->biHeight the new
 * size. Any pixel byte other than 0 counts as a dot.
 *
 * Returns 0; VREN_E_IMAGE_FORMAT when width is not positive or the image has
 * no columns; VREN_E_NOMEM when the raster cannot be allocated (*scaled set
 * to NULL, header and pixels untouched).
 */
VREN_API int resizeImage(const unsigned char *pixels, unsigned char **scaled, int32_t width, VrenImageHeader *header);

/**
 * Run-length encodes `length` bytes and writes the stream to the printer as
 * one request (several writeData() calls when one call cannot carry it):
 * every run of 0x00 or 0xFF bytes becomes the byte and a count 1..255 (longer
 * runs take several pairs; runs go on across rows); every other byte is sent
 * as it is. 00 00 00 12 FF 34 gives 00 03 12 FF 01 34.
 * Returns 0; VREN_E_NOMEM when the output buffer cannot be allocated (nothing
 * written); VREN_E_WRITE when the stream did not go out whole;
 * VREN_E_IMAGE_FORMAT when data is NULL and length is not 0.
 */
VREN_API int compressData(const unsigned char *data, uint32_t length);

/**
 * Sends a raster as the command "LD": 'L' 'D', x, y, bytes per row, rows (two
 * bytes each, low byte first), the raster, then CR, as three requests (the
 * raster in several writeData() calls when one call cannot carry it). x and y
 * go out as x % 256 and x / 256 (C's truncating division), each cut to 8
 * bits: little-endian for 0..65535, and x = -1 gives FF 00. Bytes per row is
 * (biWidth + 7) / 8.
 * Returns 0; VREN_E_IMAGE_FORMAT when header is null, raster is null while
 * the header describes bytes, or the bytes per row or rows exceed 65535
 * (nothing sent); VREN_E_WRITE when the command did not go out whole.
 */
VREN_API int printLD(const unsigned char *raster, const VrenImageHeader *header, int x, int y);

/**
 * Sends a raster as the command "LCR": 'L' 'C' 'R' 0x00, x, y, bytes per row,
 * rows (two bytes each, as printLD()), the run-length stream of compressData()
 * (its length is not sent), then CR, as three requests (the stream in several
 * writeData() calls when one call cannot carry it). Memory for the stream is
 * taken before anything is sent.
 * Returns 0; VREN_E_IMAGE_FORMAT as printLD(); VREN_E_NOMEM when the stream
 * cannot be allocated (nothing sent); VREN_E_WRITE when the command did not go
 * out whole.
 */
VREN_API int printLCR(const unsigned char *raster, const VrenImageHeader *header, int x, int y);

/**
 * Copies at most count bytes of source (never past its end; a negative count
 * copies it all) to destination, turning 'a'..'z' into capitals. Writes no
 * terminating NUL and logs nothing.
 */
VREN_API void strToUpper(const char *source, char *destination, int32_t count);

/* ------------------------------------------------------------------------ */
/* Internal steps (exported, not meant for applications)                    */
/* ------------------------------------------------------------------------ */

/**
 * Appends one record "<date time>.<usec>  : [<tag padded to 25>] <message>\n"
 * to the debug log "VRENLinuxSDKLog.txt" in the current working directory,
 * opening and closing the file for the record and writing the record in one
 * write (see "Debug log" at the top). The date and time are local
 * time as "%Y/%m/%d %H:%M:%S"; a tag longer than 25 characters is written
 * whole. Never fails towards its caller: when the file cannot be opened,
 * "Failed to open log file." goes to standard output and the record is lost;
 * a message that cannot be formatted (a null format included) leaves a
 * failure record without tag instead.
 */
VREN_API void printDebugLog(const char *tag, const char *format, ...) VREN_PRINTF_LIKE(2, 3);

/** Runs the model query and lookup. Returns 0 or VREN_E_NOT_ACCEPTED. */
VREN_API int openCheck(void);
/**
 * Drops input already waiting (as CheckPrinterStatus() does), writes the model
 * query, reads the reply, stores gPrinterModel. 0, -105 or -106.
 */
VREN_API int modelCheck(void);
/** Lowest index 151..199 whose model name occurs in reply (any case); 0 if none. */
VREN_API uint32_t getModel(const char *reply);

/**
 * Connects a TCP socket (SO_REUSEADDR, close-on-exec) to host (dotted IPv4) and port (decimal
 * text read as atoi() reads it, 1..65535). The connect blocks up to the
 * system's time-out; one that a signal interrupts goes on and is waited for. Returns the socket, VREN_E_SOCKET, or VREN_E_LINE_CONFIG
 * (option or connect failed; the socket is closed). A null host or port, or a
 * port outside 1..65535 ("Invalid port number : <port>"), is refused with
 * VREN_E_ADDRESS before anything is opened.
 */
VREN_API int openDeviceEthernet(const char *host, const char *port);
/**
 * Opens a serial port (O_RDWR, O_NOCTTY, O_NONBLOCK, O_CLOEXEC) and sets 8 data bits, no
 * parity, one stop bit, no flow control, raw input and output, at baudRate
 * (2400, 4800, 9600, 19200, 38400, 57600 or 115200; any other value: 9600);
 * other flags and the control characters keep their values, unread input is
 * discarded. Returns the descriptor, VREN_E_OPEN, VREN_E_LINE_CONFIG
 * (attributes not read or speed not set) or VREN_E_SERIAL_ATTR (attributes not
 * applied); the port is closed on every failure after the open.
 */
VREN_API int openDeviceSerial(const char *path, int baudRate);
/**
 * Opens a parallel port node (O_RDWR, O_NONBLOCK, O_CLOEXEC), nothing more.
 * Returns the descriptor or VREN_E_OPEN.
 */
VREN_API int openDeviceParallel(const char *path);
/**
 * Finds and accepts a USB printer. For n = 0..15 it opens the first of
 * "/dev/usblp<n>", "/dev/usb/lp<n>", "/dev/usb/usblp<n>" that exists (O_RDWR,
 * O_EXCL, O_NONBLOCK, O_CLOEXEC); a later name is tried only when the earlier
 * one does not exist, so a node that exists but cannot be opened is taken: a
 * busy one is rejected with an empty device ID, one refused for permission
 * (EACCES, EPERM) is logged with the reason ("Cannot open <node> :
 * <strerror>"). It reads the node's IEEE 1284 device ID (LPIOC_GET_DEVICE_ID)
 * and accepts it when the manufacturer (MFG:, else MANUFACTURE:) begins with
 * "VREN" or "TREMON" (case-sensitive) and the model (MDL:, else MODEL:) is the
 * beginning of a KORVEL_DEVICE entry, the
 * lowest such index winning (no model: the first entry). Values are cut at ';'
 * and at 63 characters; the ID's length prefix is never trusted past the
 * 1024-byte buffer.
 *
 * Returns the descriptor and sets gPrinterModel; VREN_E_OPEN with errno EACCES
 * when no printer was accepted and a node was refused for permission (most
 * often the user is not in the group that owns the nodes, "lp" on Debian);
 * VREN_E_NOT_ACCEPTED when a node exists but no printer was accepted;
 * VREN_E_OPEN with errno ENODEV when no node exists. Every descriptor not
 * returned is closed.
 */
VREN_API int openDeviceUSB(void);

/**
 * Writes count bytes to the printer in paced chunks: USB 4096 bytes 10 ms
 * apart, serial and Bluetooth 512 bytes 30 ms apart, parallel 1024 bytes
 * without pauses, network the whole request 10 ms after the call's 10 ms
 * entry pause. At most 200 write attempts per call; a failed or short attempt
 * is retried after 200 ms from the first byte not taken, at most 5 times.
 * Over the network a send that moved bytes is progress, not a failed attempt:
 * the next send waits until the socket takes bytes again (at most 200 ms), and
 * only a send that moves nothing or fails counts against the five (one that
 * moved nothing because the socket was full waits for it instead of the fixed
 * 200 ms). Every byte is logged before the first write. A count of 0 returns 0 at once.
 * Returns the number of bytes written (smaller than count when the attempts
 * ran out), or VREN_E_WRITE_GAVE_UP on the sixth failed attempt.
 */
VREN_API int writeData(const void *data, uint32_t count);
/**
 * Reads at most count (and at most 512) bytes into data by polling: 100 ms,
 * then up to 20 reads 30 ms apart, stopping early once count bytes came or a
 * read ended in a NUL byte. No NUL is added. Returns the count read (0 when
 * nothing came); a negative count reads nothing and returns 0.
 */
VREN_API int readData(void *data, int32_t count);
/** Clears the command buffer: all bytes zero, gDataIndex 0. */
VREN_API void initDataBuffer(void);
/** Sends and clears the command buffer once it holds 3584 bytes or more. 0 or -105. */
VREN_API int bufferCheck(void);
/**
 * Converts length bytes of UTF-8 data to codePage (see the code page table
 * above) and appends them as a quoted field, then runs bufferCheck(); data
 * must hold at least length bytes (the text functions pass its strlen). A code
 * page outside 0..8 appends data unconverted, up to its NUL whatever length
 * says ("Wrong code page."). Returns 0; VREN_E_WRITE when the conversion
 * failed, the converter for the code page could not be opened, data is
 * null, or the field would hold a quote followed by a carriage return
 * (nothing appended); VREN_E_NOMEM when the output area of 2 x length
 * bytes could not be allocated, a negative length included (nothing
 * appended); or bufferCheck()'s result. Logs under "convertData", without
 * "start" or "end".
 */
VREN_API int convertData(const char *data, int length, int codePage);

#ifdef __cplusplus
}
#endif

#endif /* VREN_LABEL_API_H */

/*
 * Bluetooth opener and its steps (internal). Their signatures use BlueZ types,
 * so they are declared when <bluetooth/bluetooth.h> (and, for sdp_search_spp,
 * <bluetooth/sdp_lib.h>) is included before this header.
 */
#if defined(__BLUETOOTH_H) && !defined(VREN_LABEL_API_BLUETOOTH)
#define VREN_LABEL_API_BLUETOOTH
#ifdef __cplusplus
extern "C" {
#endif
/**
 * Connects to the printer's serial-port service over RFCOMM and returns the
 * connected socket.
 *
 * Discovery: up to 5 times, opens an SDP session to the device
 * (SDP_RETRY_IF_BUSY) and looks for the Serial Port service's RFCOMM channel
 * (sdp_search_spp), 300 ms apart. Connection: up to 5 times, spp_connect() to
 * that channel, 3 microseconds apart.
 *
 * Returns the socket, VREN_E_BT_SDP_CONNECT (no SDP session, not retried),
 * VREN_E_BT_NO_SERVICE (five searches found no channel) or VREN_E_BT_CONNECT
 * (five connection attempts failed, whatever the cause). A device that keeps
 * answering "busy" costs at most 5 x 5 waits of 10 s before VREN_E_BT_CONNECT.
 */
VREN_API int openDeviceBluetooth(bdaddr_t device);
/**
 * Creates an RFCOMM stream socket (close-on-exec), binds it to `local` with channel 0 (any),
 * and connects it to `remote` on `channel`. The socket is stored in *sock.
 *
 * While the connect fails with EBUSY it waits 10 s and connects again on the
 * same socket, at most 5 times; a sixth busy answer fails the call.
 *
 * Returns 0 (connected, socket in *sock); VREN_E_BT_SOCKET (socket() failed,
 * its negative result in *sock); VREN_E_BT_BIND or VREN_E_BT_CONNECT (the
 * socket is closed and *sock set to -1). A null pointer argument gives
 * VREN_E_BT_CONNECT without a socket.
 */
VREN_API int spp_connect(const bdaddr_t *local, const bdaddr_t *remote, uint8_t channel, int *sock);
#ifdef __cplusplus
}
#endif
#endif

#if defined(__SDP_LIB_H) && !defined(VREN_LABEL_API_SDP)
#define VREN_LABEL_API_SDP
#ifdef __cplusplus
extern "C" {
#endif
/**
 * Searches the open SDP session for the Serial Port service (UUID 0x1101),
 * asking for its protocol descriptor list (attribute 0x0004), and stores the
 * RFCOMM channel of the first record that has a non-zero one. Logs nothing.
 * Returns 0, or -1 (no session, search failed, no record with a channel).
 */
VREN_API int sdp_search_spp(sdp_session_t *session, uint8_t *channel);
#ifdef __cplusplus
}
#endif
#endif
