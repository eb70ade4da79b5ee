// Models, media and settings of the drivers.
#include "driver.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "VrenLabelAPI.h"
#include "raster.h"
#include "status.h"
#include "testpage.h"

namespace vrenapp {

namespace {

constexpr int kDpi = 203;

// Label sizes users buy, in PWG self-describing names, and the range of
// custom sizes up to the print width (104 mm, 832 dots).
constexpr const char *kMedia[] = {
    "oe_4x6-label_4x6in",     "oe_4x4-label_4x4in",           "oe_4x3-label_4x3in",
    "oe_4x2-label_4x2in",     "oe_3x2-label_3x2in",           "oe_2x1-label_2x1in",
    "oe_2-25x1-25-label_2.25x1.25in",                         "om_62x29mm-label_62x29mm",
    "om_100x150mm-label_100x150mm",                           "roll_max_104x990mm",
    "roll_min_13x6mm",
};
constexpr const char *kDefaultMedia = "oe_4x6-label_4x6in";

// Gap or mark length sent with gap and black-mark media: 3 mm.
constexpr int kGapDots = 24;

// A 16 x 16 ordered (Bayer) dither matrix with thresholds 0..254: a white
// pixel (255) never prints and a black one (0) always does, so pictures that
// are black and white already, barcodes above all, keep every module.
void fillDither(pappl_dither_t &dither) {
    for (unsigned y = 0; y < 16; ++y)
        for (unsigned x = 0; x < 16; ++x) {
            unsigned value = 0;
            for (unsigned bit = 0; bit < 4; ++bit) {
                const unsigned xb = (x >> bit) & 1, yb = (y >> bit) & 1;
                value |= ((xb ^ yb) << (2 * (3 - bit) + 1)) | (yb << (2 * (3 - bit)));
            }
            dither[y][x] = static_cast<unsigned char>(value * 255 / 256);
        }
}

int dotsOf(int hundredthsOfMm) {
    return static_cast<int>((static_cast<long>(hundredthsOfMm) * kDpi + 1270) / 2540);
}

struct Model {
    std::string name;         // "vren_lq1"
    std::string description;  // "VREN LQ1"
    std::string deviceId;     // "MFG:VREN;MDL:LQ1;"
};

std::vector<Model> &models() {
    static std::vector<Model> list = [] {
        std::vector<Model> found;
        for (int index = 151; index < VREN_MODEL_TABLE_SIZE; ++index) {
            const char *model = KORVEL_DEVICE[index];
            if (model == nullptr)
                continue;
            std::string name = "vren_";
            for (const char *c = model; *c; ++c)
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            found.push_back({name, std::string(KORVEL_DEVICE[0]) + " " + model,
                             std::string("MFG:") + KORVEL_DEVICE[0] + ";MDL:" + model + ";"});
        }
        return found;
    }();
    return list;
}

}  // namespace

std::vector<pappl_pr_driver_t> &drivers() {
    static std::vector<pappl_pr_driver_t> list = [] {
        std::vector<pappl_pr_driver_t> table;
        for (const Model &model : models())
            table.push_back({model.name.c_str(), model.description.c_str(), model.deviceId.c_str(), nullptr});
        return table;
    }();
    return list;
}

const char *driverForDeviceId(const char *, const char *, const char *deviceId, void *) {
    if (deviceId == nullptr)
        return nullptr;
    cups_option_t *pairs = nullptr;
    const int count = papplDeviceParseID(deviceId, &pairs);
    const char *model = cupsGetOption("MDL", count, pairs);
    if (model == nullptr)
        model = cupsGetOption("MODEL", count, pairs);
    const char *found = nullptr;
    for (const Model &candidate : models())
        if (model != nullptr && strcasecmp(candidate.description.c_str() + std::strlen(KORVEL_DEVICE[0]) + 1, model) == 0)
            found = candidate.name.c_str();
    cupsFreeOptions(count, pairs);
    return found;
}

bool setUpDriver(pappl_system_t *, const char *driverName, const char *, const char *, pappl_pr_driver_data_t *data,
                 ipp_t **, void *) {
    const auto &list = models();
    const auto model = std::find_if(list.begin(), list.end(), [&](const Model &m) { return m.name == driverName; });
    if (model == list.end())
        return false;

    std::strncpy(data->make_and_model, model->description.c_str(), sizeof data->make_and_model - 1);
    data->format = kRawFormat;
    data->kind = PAPPL_KIND_LABEL;
    data->ppm = 30;

    data->printfile_cb = printRawFile;
    data->rstartjob_cb = startJob;
    data->rstartpage_cb = startPage;
    data->rwriteline_cb = writeLine;
    data->rendpage_cb = endPage;
    data->rendjob_cb = endJob;
    data->status_cb = updateStatus;
    data->testpage_cb = testPageFile;

    // 1-bit black: PAPPL dithers grayscale and colour input itself.
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_BI_LEVEL;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_1 | PAPPL_PWG_RASTER_TYPE_BLACK_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_BLACK_1;
    fillDither(data->gdither);
    fillDither(data->pdither);
    data->quality_default = IPP_QUALITY_NORMAL;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    // A fixed orientation: IPP conformance wants portrait..reverse-portrait
    // as the default, not "none".
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->num_resolution = 1;
    data->x_resolution[0] = data->y_resolution[0] = kDpi;
    data->x_default = data->y_default = kDpi;
    data->input_face_up = data->output_face_up = true;
    data->finishings = PAPPL_FINISHINGS_TRIM;

    // Labels print edge to edge.
    data->borderless = true;
    data->left_right = 0;
    data->bottom_top = 0;
    data->num_media = static_cast<int>(std::size(kMedia));
    std::copy(std::begin(kMedia), std::end(kMedia), data->media);
    data->num_source = 1;
    data->source[0] = "main-roll";
    data->tracking_supported = PAPPL_MEDIA_TRACKING_GAP | PAPPL_MEDIA_TRACKING_MARK | PAPPL_MEDIA_TRACKING_CONTINUOUS;
    data->num_type = 2;
    data->type[0] = "labels";
    data->type[1] = "continuous";
    data->top_offset_supported[0] = -1250;  // -100..100 dots
    data->top_offset_supported[1] = 1250;

    pappl_media_col_t &media = data->media_default;
    std::memset(&media, 0, sizeof media);
    std::strncpy(media.size_name, kDefaultMedia, sizeof media.size_name - 1);
    const pwg_media_t *size = pwgMediaForPWG(kDefaultMedia);
    media.size_width = size->width;
    media.size_length = size->length;
    std::strncpy(media.source, "main-roll", sizeof media.source - 1);
    std::strncpy(media.type, "labels", sizeof media.type - 1);
    media.tracking = PAPPL_MEDIA_TRACKING_GAP;
    data->media_ready[0] = media;

    // printer-darkness 0..100 maps onto the library's density 0..20.
    data->darkness_supported = 21;
    data->darkness_configured = 50;
    data->darkness_default = 0;
    // 2 to 12 inches per second, in hundredths of millimetres per second;
    // 0 leaves the printer's own speed.
    data->speed_supported[0] = 2 * 2540;
    data->speed_supported[1] = 12 * 2540;
    data->speed_default = 0;

    data->mode_supported = PAPPL_LABEL_MODE_TEAR_OFF | PAPPL_LABEL_MODE_CUTTER | PAPPL_LABEL_MODE_REWIND;
    data->mode_configured = PAPPL_LABEL_MODE_TEAR_OFF;
    return true;
}

JobSettings settingsFor(const pappl_pr_options_t &options, pappl_label_mode_t mode) {
    JobSettings settings;
    settings.widthDots = static_cast<int>(options.header.cupsWidth);
    settings.heightDots = static_cast<int>(options.header.cupsHeight);
    const bool continuous = options.media.tracking == PAPPL_MEDIA_TRACKING_CONTINUOUS ||
                            std::strcmp(options.media.type, "continuous") == 0;
    if (continuous) {
        settings.mediaType = 1;
    } else {
        settings.mediaType = options.media.tracking == PAPPL_MEDIA_TRACKING_MARK ? 2 : 0;
        settings.gapDots = kGapDots;
    }
    settings.offsetDots = std::clamp(dotsOf(options.media.top_offset), -100, 100);
    const int darkness = std::clamp(options.darkness_configured + options.print_darkness, 0, 100);
    settings.density = (darkness * 20 + 50) / 100;
    if (options.print_speed > 0)
        settings.speed = std::clamp((options.print_speed + 1270) / 2540, 1, 12);
    settings.cutter = (mode & PAPPL_LABEL_MODE_CUTTER) != 0 || (options.finishings & PAPPL_FINISHINGS_TRIM) != 0;
    settings.rewinder = (mode & PAPPL_LABEL_MODE_REWIND) != 0;
    return settings;
}

bool sendSettings(const JobSettings &settings) {
    return SetPaper(settings.widthDots, settings.heightDots, settings.mediaType, settings.offsetDots,
                    settings.gapDots) == VREN_OK &&
           SetDensity(settings.density) == VREN_OK && (settings.speed < 0 || SetSpeed(settings.speed) == VREN_OK) &&
           SetCutter(settings.cutter ? 1 : 0, 0) == VREN_OK && SetRewinder(settings.rewinder ? 1 : 0) == VREN_OK;
}

}  // namespace vrenapp
