// The layer-shell glue: its get_layer_surface has an argument named
// "namespace", which C++ reserves.
#pragma once

#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
