#include "shell/Entry.h"

int main(int argc, char** argv) {
    return parlo::Entry::main(argc, argv);
}
