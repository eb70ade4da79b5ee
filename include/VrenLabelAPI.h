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
 *   "USB"                         first accepted USB printer (/dev/usblp*, /dev/usb/lp*, /dev/usb/usblp*)
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
/**
 * Finds and accepts a USB printer. For n = 0..15 it opens the first of
 * "/dev/usblp<n>", "/dev/usb/lp<n>", "/dev/usb/usblp<n>" that exists (O_RDWR,
 * O_EXCL, O_NONBLOCK), reads its IEEE 1284 device ID (LPIOC_GET_DEVICE_ID) and
 * accepts it when the manufacturer (MFG: or MANUFACTURE:) begins with "VREN"
 * or "TREMON" and the model (MDL: or MODEL:) is the beginning of a
 * KORVEL_DEVICE entry. Values are cut at ';' and at 63 characters.
 *
 * Returns the descriptor and sets gPrinterModel; VREN_E_NOT_ACCEPTED when a
 * node exists but no printer was accepted; VREN_E_OPEN with errno ENODEV when
 * no node exists. Every descriptor not returned is closed.
 */
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
 * Creates an RFCOMM stream socket, binds it to `local` with channel 0 (any),
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
