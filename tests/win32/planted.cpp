// A DLL that stands for one planted in the agent's folder under a system DLL's name: its
// export tells the tests which copy was loaded.
#include <windows.h>

extern "C" __declspec(dllexport) int TravikPlanted() {
    return 1;
}
