// The format-preserving TOML document library: values, tables, documents.
#pragma once

#include "toml/document.h"
#include "toml/item.h"
#include "toml/value.h"
