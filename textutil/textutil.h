// The text utility library: flat routines over Windows-1252 strings.
#pragma once

#include "textutil/compare.h"
#include "textutil/edit.h"
#include "textutil/fields.h"
#include "textutil/memblock.h"
#include "textutil/phonetic.h"
#include "textutil/scan.h"
#include "textutil/sign.h"
#include "textutil/state.h"
#include "textutil/substr.h"
