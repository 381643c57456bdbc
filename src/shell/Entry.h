#pragma once

namespace parlo {

// The program's one entry point: looks at the command line and runs exactly one mode.
class Entry {
public:
    static int main(int argc, char** argv);
};

} // namespace parlo
