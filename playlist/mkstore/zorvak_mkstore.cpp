// zorvak-mkstore OUTPUT: writes an empty playlist store (tmpdb.mdb) made from
// playlist/schema.sql. Run by the build; the client never creates its store.
#include <cstdio>

#include "playlist/mkstore/store_schema.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: zorvak-mkstore OUTPUT\n", stderr);
        return 2;
    }
    std::string error = zorvak::CreateEmptyStore(argv[1]);
    if (!error.empty()) {
        std::fprintf(stderr, "zorvak-mkstore: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
