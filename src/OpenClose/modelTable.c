/* The model table: the manufacturer word and the model names the library accepts. */
#include "VrenLabelAPI.h"

VREN_API const char *const KORVEL_DEVICE[VREN_MODEL_TABLE_SIZE] = {
    [0] = "VREN",
    [151] = "LQ1",
    [152] = "LQ2",
};
