// The machine vornalet-sim runs on when no image is named.
#pragma once

// The text of machines/builtin.json as it was when the program was built.
const char* BuiltinImageJson();
