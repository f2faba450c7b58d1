// Stand-in for the file manager: loads kestrelink.dll through LoadLibrary and
// calls its exports in the order the host does, printing what the file
// manager would show. Usage: kl_host.exe <path of kestrelink.dll>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using TFsInit = int(__stdcall*)(int, void*, void*, void*);
using TFsSetDefaultParams = void(__stdcall*)(void*);
using TCopyName = void(__stdcall*)(char*, int);

template <class F>
F Need(HMODULE dll, const char* name) {
    auto p = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!p) {
        std::fprintf(stderr, "kl_host: export %s missing\n", name);
        std::exit(1);
    }
    return p;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* path = argc > 1 ? argv[1] : L"kestrelink.dll";
    HMODULE dll = LoadLibraryW(path);
    if (!dll) {
        std::fprintf(stderr, "kl_host: cannot load %ls (error %lu)\n", path, GetLastError());
        return 1;
    }
    std::printf("Loaded %ls\n", path);

    const int init = Need<TFsInit>(dll, "FsInit")(1, nullptr, nullptr, nullptr);
    std::printf("FsInit                -> %d\n", init);
    char defaults[1024] = {};
    Need<TFsSetDefaultParams>(dll, "FsSetDefaultParams")(defaults);
    std::printf("FsSetDefaultParams    -> done\n");

    char root[MAX_PATH] = {};
    Need<TCopyName>(dll, "FsGetDefRootName")(root, MAX_PATH);
    std::printf("FsGetDefRootName      -> \"%s\"   (shown under Network Neighborhood as \\\\\\%s)\n",
                root, root);

    char detect[1024] = {};
    Need<TCopyName>(dll, "ListGetDetectString")(detect, sizeof detect);
    std::printf("ListGetDetectString   -> %s\n", detect);
    std::printf("                         (%zu characters)\n", std::string(detect).size());

    FreeLibrary(dll);
    return 0;
}
