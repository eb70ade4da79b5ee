// The test page: the project's demonstration label, composed through the
// library's text, graphics and barcode commands (no raster).
//
// PAPPL's "Print Test Page" asks the driver for a file to print; that file
// holds only a marker, which the MIME callback recognises, and the filter for
// its type composes the label on the printer's connection.
#pragma once

#include <cstddef>

#include <pappl/pappl.h>

namespace vrenapp {

constexpr const char *kTestPageFormat = "application/vnd.vren-test-page";

// Driver callback: writes the marker file into the spool directory.
const char *testPageFile(pappl_printer_t *printer, char *buffer, size_t size);

// Registers the format's detection and its filter with the system.
void addTestPageFormat(pappl_system_t *system);

}  // namespace vrenapp
