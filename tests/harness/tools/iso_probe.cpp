// Test program for the ISO export under Wine.
//   iso_probe copy <image> <destination>   runs ExtractIso, prints "result 1" or "result 0"
//   iso_probe notice                       shows the export notice, then prints the option word
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/settings.h"
#include "common/shared_state.h"
#include "res/resource.h"
#include "write/iso_export.h"

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    InitCommonControls();
    AppInstance = GetModuleHandleA(nullptr);
    ScratchText = static_cast<char*>(calloc(kScratchTextSize, 1));
    ImagePath = static_cast<char*>(calloc(kImagePathSize, 1));
    if (argc == 4 && strcmp(argv[1], "copy") == 0) {
        snprintf(ImagePath, kImagePathSize, "%s", argv[2]);
        printf("result %d\n", ExtractIso(argv[3]) ? 1 : 0);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "notice") == 0) {
        LoadSettings();
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ISO_NOTICE), nullptr, IsoNotice, 0);
        printf("flags 0x%x\n", static_cast<unsigned>(SettingsFlags));
        return 0;
    }
    fprintf(stderr, "usage: iso_probe copy <image> <destination> | notice\n");
    return 2;
}
