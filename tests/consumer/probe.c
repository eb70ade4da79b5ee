/* An application of the installed library: no connection is open, so
   nothing is closed; the model table is data exported by the library. */
#include <VrenLabelAPI.h>
#include <stdio.h>

int main(void) {
    if (DisconnectPrinter() != -1 || gConnectedPrinter != 0 || KORVEL_DEVICE[0] == 0)
        return 1;
    printf("%s\n", KORVEL_DEVICE[0]);
    return 0;
}
