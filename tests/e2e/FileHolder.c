/* Holds a file open without sharing it for a while, as an antivirus scanner
   does with a file it examines: FileHolder.exe PATH MILLISECONDS. Prints
   "held" once the file is open; exit code 1 when it cannot be opened. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        printf("cannot open: %lu\n", GetLastError());
        return 1;
    }
    printf("held\n");
    fflush(stdout);
    Sleep((DWORD)wcstoul(argv[2], NULL, 10));
    CloseHandle(file);
    return 0;
}
