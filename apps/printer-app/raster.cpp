// The raster callbacks and raw jobs.
#include "raster.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "VrenLabelAPI.h"
#include "bands.h"
#include "driver.h"

namespace vrenapp {

namespace {

struct PageOutput {
    JobSettings settings;
    bool settingsSent = false;
    int copies = 1;
    unsigned bytesPerRow = 0;
    unsigned rows = 0;
    std::vector<unsigned char> page;
};

// PAPPL runs a job's callbacks on one thread, and skips endJob() when a job
// fails part-way; the thread's exit then releases what the job held.
thread_local std::unique_ptr<PageOutput> tCurrent;

pappl_label_mode_t labelModeOf(pappl_job_t *job) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    return data.mode_configured;
}

// PAPPL prints every copy of a picture itself; a raster stream from a
// client comes once, with the count in "copies", and the printer makes the
// copies.
bool isRasterStream(pappl_job_t *job) {
    const char *format = papplJobGetFormat(job);
    return format && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

bool sendBand(const PageOutput &out, const Band &band) {
    VrenImageHeader header{};
    header.biSize = sizeof header;
    header.biWidth = static_cast<int32_t>(out.bytesPerRow * 8);
    header.biHeight = static_cast<int32_t>(band.rows);
    header.biPlanes = 1;
    header.biBitCount = 1;
    const unsigned char *raster = out.page.data() + static_cast<size_t>(band.firstRow) * out.bytesPerRow;
    const int y = static_cast<int>(band.firstRow);
    return (band.compressed ? printLCR(raster, &header, 0, y) : printLD(raster, &header, 0, y)) == VREN_OK;
}

bool sendPage(PageOutput &out) {
    if (!out.settingsSent) {
        if (!sendSettings(out.settings))
            return false;
        out.settingsSent = true;
    }
    for (const Band &band : planBands(out.page.data(), out.bytesPerRow, out.rows))
        if (!sendBand(out, band)) {
            out.settingsSent = false;
            return false;
        }
    if (Prints(1, out.copies) != VREN_OK) {
        out.settingsSent = false;
        return false;
    }
    return true;
}

}  // namespace

bool startJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device) {
    tCurrent = std::make_unique<PageOutput>();
    tCurrent->settings = settingsFor(*options, labelModeOf(job));
    tCurrent->copies = isRasterStream(job) ? std::max(1, options->copies) : 1;
    return waitUntilReady(job, connectionOf(device));
}

bool startPage(pappl_job_t *, pappl_pr_options_t *options, pappl_device_t *, unsigned) {
    PageOutput &out = *tCurrent;
    out.bytesPerRow = options->header.cupsBytesPerLine;
    out.rows = options->header.cupsHeight;
    out.settings.widthDots = static_cast<int>(options->header.cupsWidth);
    out.settings.heightDots = static_cast<int>(options->header.cupsHeight);
    out.page.assign(static_cast<size_t>(out.bytesPerRow) * out.rows, 0);
    return true;
}

bool writeLine(pappl_job_t *, pappl_pr_options_t *, pappl_device_t *, unsigned y, const unsigned char *line) {
    PageOutput &out = *tCurrent;
    if (y < out.rows)
        std::memcpy(out.page.data() + static_cast<size_t>(y) * out.bytesPerRow, line, out.bytesPerRow);
    return true;
}

bool endPage(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device, unsigned) {
    PageOutput &out = *tCurrent;
    return sendUntilDone(job, device, [&] { return sendPage(out); });
}

bool endJob(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    tCurrent.reset();
    finishJob(job, device);
    return true;
}

void finishJob(pappl_job_t *, pappl_device_t *device) {
    connectionOf(device).close();
}

bool printRawFile(pappl_job_t *job, pappl_pr_options_t *, pappl_device_t *device) {
    std::vector<unsigned char> data;
    if (FILE *file = std::fopen(papplJobGetFilename(job), "rb")) {
        unsigned char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            data.insert(data.end(), buffer, buffer + got);
        std::fclose(file);
    } else {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the job file.");
        return false;
    }
    if (data.size() > static_cast<size_t>(INT_MAX)) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The job file is too large.");
        return false;
    }
    // Through the library's transport, as the device's own writes go.
    const bool sent = sendUntilDone(job, device, [&] {
        return data.empty() || DirectIO(data.data(), static_cast<int>(data.size()), nullptr, nullptr) == VREN_OK;
    });
    if (sent)
        finishJob(job, device);
    return sent;
}

}  // namespace vrenapp
