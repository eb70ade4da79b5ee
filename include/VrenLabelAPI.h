/*
 * VrenLabelAPI.h - C interface of libVrenLabelAPI, a driver library for VREN
 * thermal label printers.
 *
 * Usable from C (C99 or later) and C++.
 *
 * The model
 * ---------
 * The library holds ONE printer connection per process. ConnectToPrinter()
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
 * ConnectToPrinter() takes about a second.
 *
 * Debug log
 * ---------
 * Nearly every function appends time-stamped trace records to the file
 * "VRENLinuxSDKLog.txt" in the current working directory, one record per
 * byte written to or read from the printer included. The file is created when
 * missing and never truncated. There is no switch to turn it off.
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
    /** Device open failed: no USB printer node, or the serial/parallel node did not open. */
    VREN_E_OPEN = -100,
    /** A USB printer node was found but no printer was accepted; identification failed. */
    VREN_E_NOT_ACCEPTED = -101,
    /** Transport write gave up after a sixth failed or short write attempt in one call. */
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
    /** Invalid network address. */
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
/** Number of bytes in use in gPrintData. */
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
 * The address selects the interface (prefixes compare without regard to case):
 *   "USB"                         first accepted USB printer (/dev/usblp*, /dev/usb/lp*)
 *   "SERIAL:<baud>"               first of /dev/ttyS0../dev/ttyS9 that opens
 *   "/dev/ttyS<n>:<baud>"         that serial port; baud 2400..115200, else 9600
 *   "PARALLEL"                    first of /dev/lp0../dev/lp9 that opens
 *   "/dev/lp<n>"                  that parallel port
 *   "AA:BB:CC:DD:EE:FF"           Bluetooth serial-port profile
 *   "192.168.0.10:9100"           TCP over IPv4 (dotted address, colon, port)
 *
 * After the device opened, the model query "^PI0" is sent and the reply must
 * name a model of KORVEL_DEVICE. On success any earlier connection is closed,
 * the command buffer is cleared and 0 is returned. On failure the earlier
 * connection (if any) stays as it was.
 *
 * Returns 0, VREN_E_ADDRESS, VREN_E_NOT_ACCEPTED, or the opener's code
 * (VREN_E_LINE_CONFIG, VREN_E_OPEN, VREN_E_SERIAL_ATTR, VREN_E_BT_*, VREN_E_SOCKET).
 */
VREN_API int ConnectToPrinter(const char *address);

/**
 * Closes the connection. Returns 0, or -1 when no connection is open or the
 * close failed. The command buffer keeps its contents.
 */
VREN_API int DisconnectPrinter(void);

/* ------------------------------------------------------------------------ */
/* Job output and raw I/O                                                   */
/* ------------------------------------------------------------------------ */

/**
 * Appends the print command "P<labels>,<copies>\r" and sends the whole command
 * buffer. The buffer is cleared when it went out completely.
 * Returns 0 or VREN_E_WRITE (buffer kept, print command included).
 */
VREN_API int Prints(int labels, int copies);

/** Sends the printer's clear command "CB\r" at once. gPrintData is not touched. */
VREN_API int ClearBuffer(void);

/**
 * Raw I/O. Writes writeLength bytes of writeBuffer (skipped when writeBuffer is
 * null or writeLength is 0), then, when readBuffer is not null and *readLength
 * is not 0, reads at most *readLength bytes (never more than 512) into
 * readBuffer and stores the count in *readLength.
 *
 * Returns 0; VREN_E_WRITE when the write was incomplete or writeLength is
 * negative; VREN_E_READ when nothing was read, *readLength is negative, or
 * readLength is null while readBuffer is not.
 */
VREN_API int DirectIO(const void *writeBuffer, int writeLength, void *readBuffer, int *readLength);

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
 * last '.') begins with "jpg" or "gif", and "bmp" files of 1 or 32 bits or
 * with compressed pixel data, are first converted to a true-colour BMP by
 * ImageMagick's "convert", which writes a temporary file
 * "<path up to its last '.'>temp1sa3.bmp" (or a unique variant of that name
 * ending in ".bmp" when the name is taken); the file is removed afterwards.
 * Other files are read as BMP files whatever their name; 1-bit BMP files
 * reached that way are decoded directly.
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
 * directly, 32-bit ones are refused with VREN_E_IMAGE_FORMAT.
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
 * loadImage() describes. On success *scaled receives the raster (calloc; the
 * caller frees it) and header->biWidth, header->biHeight the new size.
 *
 * Returns 0; VREN_E_IMAGE_FORMAT when width is not positive or the image has
 * no columns; VREN_E_NOMEM when the raster cannot be allocated (header and
 * pixels untouched).
 */
VREN_API int resizeImage(const unsigned char *pixels, unsigned char **scaled, int32_t width, VrenImageHeader *header);

/**
 * Run-length encodes `length` bytes and writes the stream to the printer:
 * every 0x00 or 0xFF byte run becomes the byte and a count 1..255 (longer runs
 * take several pairs); every other byte is sent as it is.
 * Returns 0; VREN_E_NOMEM when the output buffer cannot be allocated (nothing
 * written); VREN_E_WRITE when the stream did not go out whole.
 */
VREN_API int compressData(const unsigned char *data, uint32_t length);

/**
 * Sends a raster as the command "LD": 'L' 'D', x, y, bytes per row, rows (each
 * a 16-bit little-endian field), the raster, then CR.
 * Returns 0; VREN_E_IMAGE_FORMAT when header is null or the bytes per row or
 * rows exceed 65535 (nothing sent); VREN_E_WRITE when the command did not go
 * out whole.
 */
VREN_API int printLD(const unsigned char *raster, const VrenImageHeader *header, int x, int y);

/**
 * Sends a raster as the command "LCR": 'L' 'C' 'R' 0x00, x, y, bytes per row,
 * rows (16-bit little-endian fields), the run-length stream of compressData(),
 * then CR. The raster is compressed before anything is sent.
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
 * to the debug log. Never fails towards its caller.
 */
VREN_API void printDebugLog(const char *tag, const char *format, ...) VREN_PRINTF_LIKE(2, 3);

/** Runs the model query and lookup. Returns 0 or VREN_E_NOT_ACCEPTED. */
VREN_API int openCheck(void);
/** Writes the model query, reads the reply, stores gPrinterModel. 0, -105 or -106. */
VREN_API int modelCheck(void);
/** Lowest index 151..199 whose model name occurs in reply (any case); 0 if none. */
VREN_API uint32_t getModel(const char *reply);

/** Connects a TCP socket to host (dotted IPv4) and port (decimal text). */
VREN_API int openDeviceEthernet(const char *host, const char *port);
/** Opens and configures a serial port (8N1, raw, no flow control) at the given speed. */
VREN_API int openDeviceSerial(const char *path, int baudRate);
/** Opens a parallel port node. */
VREN_API int openDeviceParallel(const char *path);
/** Finds and accepts a USB printer; sets gPrinterModel. */
VREN_API int openDeviceUSB(void);

/**
 * Writes count bytes to the printer in paced chunks, retrying failed attempts
 * (at most 5 per call). Returns the number of bytes written, or
 * VREN_E_WRITE_GAVE_UP.
 */
VREN_API int writeData(const void *data, uint32_t count);
/** Reads at most count (and at most 512) bytes by polling. Returns the count read. */
VREN_API int readData(void *data, int32_t count);
/** Clears the command buffer: all bytes zero, gDataIndex 0. */
VREN_API void initDataBuffer(void);
/** Sends and clears the command buffer once it holds 3584 bytes or more. 0 or -105. */
VREN_API int bufferCheck(void);

#ifdef __cplusplus
}
#endif

#endif /* VREN_LABEL_API_H */

/*
 * Bluetooth openers (internal steps). Their signatures use BlueZ types, so they
 * are declared when <bluetooth/bluetooth.h> (and, for sdp_search_spp,
 * <bluetooth/sdp_lib.h>) is included before this header.
 */
#if defined(__BLUETOOTH_H) && !defined(VREN_LABEL_API_BLUETOOTH)
#define VREN_LABEL_API_BLUETOOTH
#ifdef __cplusplus
extern "C" {
#endif
/** Connects to the printer's serial-port service over RFCOMM. */
VREN_API int openDeviceBluetooth(bdaddr_t device);
#ifdef __cplusplus
}
#endif
#endif
