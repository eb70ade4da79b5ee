// Drivers: one per model of the library's model table, with the label sizes,
// media tracking and types, darkness, speed and label modes (cutter,
// rewinder) of a 203 dpi thermal label printer, and the printer settings a
// job's options turn into.
#pragma once

#include <vector>

#include <pappl/pappl.h>

namespace vrenapp {

// The drivers, "vren_<model>" for each model name of KORVEL_DEVICE, e.g.
// "vren_lq1" ("VREN LQ1").
std::vector<pappl_pr_driver_t> &drivers();

// PAPPL's driver callback: fills in a printer's capabilities and callbacks.
bool setUpDriver(pappl_system_t *system, const char *driverName, const char *deviceUri, const char *deviceId,
                 pappl_pr_driver_data_t *data, ipp_t **attributes, void *context);

// The driver that fits an IEEE 1284 device ID ("MFG:VREN;MDL:LQ2;"), or null.
const char *driverForDeviceId(const char *deviceInfo, const char *deviceUri, const char *deviceId, void *context);

// What the library is told before a job's labels, in its units (dots at
// 203 dpi, density 0..20, speed 0..12 inches per second).
struct JobSettings {
    int widthDots = 0;
    int heightDots = 0;
    int mediaType = 0;  // SetPaper(): 0 gap, 1 continuous, 2 black mark
    int offsetDots = 0;
    int gapDots = 0;
    int density = 10;
    int speed = -1;  // -1: the printer's own
    bool cutter = false;
    bool rewinder = false;
};

JobSettings settingsFor(const pappl_pr_options_t &options, pappl_label_mode_t mode);

// Sends the settings; false when one did not reach the printer.
bool sendSettings(const JobSettings &settings);

}  // namespace vrenapp
