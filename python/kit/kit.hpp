// The binding kit: include this one header in a class's binding file.
#pragma once

#include "kit/core.hpp"     // boundary, instance layout, borrows, types
#include "kit/convert.hpp"  // argument and result conversion
#include "kit/args.hpp"     // Params / Args
#include "kit/wrap.hpp"     // generic slots and table rows
