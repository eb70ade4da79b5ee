// One-shot control commands, written to the printer at once.
#include "VrenLabelAPI.h"
#include "basicFunc/immediate.h"

extern "C" VREN_API int InitializePrinter(void) { return vren::sendImmediate("InitializePrinter", "@\r"); }
extern "C" VREN_API int CalibrateMedia(void) { return vren::sendImmediate("CalibrateMedia", "~JC\r\n"); }
extern "C" VREN_API int ResetPrinter(void) { return vren::sendImmediate("ResetPrinter", "~JR\r\n"); }
extern "C" VREN_API int FeedOneLabel(void) { return vren::sendImmediate("FeedOneLabel", "~PH\r\n"); }
