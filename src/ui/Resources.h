#pragma once

namespace quillon {

// Registers the program's built-in resources (icon, help pages). They live in a static
// library, whose resource initialiser the linker would otherwise drop. Idempotent.
void initResources();

} // namespace quillon
