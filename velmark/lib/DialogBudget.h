// How much text a dialog template may hold in its place. A translated
// template stays where the host's lies (the module keeps every resource at
// the host's offset), so its texts can grow only into the bytes before the
// next resource. The budget is the number of UTF-16 units the caption and
// control texts may hold together, whatever their lengths one by one.
#pragma once

#include "formats/pe/Resources.h"
#include "formats/resources/ResourceFormats.h"
#include "velmark/lib/MuiCatalog.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmark::cli {

// The place of a resource: from its data to the next resource's data of
// `leaves`, or to the end of its section.
uint32_t placeOf(const pe::Image& host, const std::vector<pe::Resource>& leaves, const pe::Resource& resource);

// UTF-16 units of the texts a translation may change: a non-empty caption
// and every control text that is not an ordinal.
size_t translatableUnits(const mui::Dialog& dialog);

// Units those texts may hold together in a place of `placeBytes`, however
// they are spread over the controls (each control's 4-byte alignment counted
// at its worst).
size_t dialogBudget(const mui::Dialog& dialog, uint32_t placeBytes);

// The bytes of a place that lets the texts grow by `percent`: its budget is
// at least the current units plus that share (rounded up), and the host's
// template fits.
uint32_t placeWithRoom(const mui::Dialog& dialog, unsigned percent);

// The extracted comment of each of a dialog's entries in a template:
// "dialog #300: all its texts together at most 84 characters (UTF-16 units; now 42)".
std::string budgetComment(const pe::Resource& resource, const mui::Dialog& dialog, uint32_t placeBytes);

// Why a translated dialog is left untranslated: its translated entries and
// how many characters to cut from them so that the template fits its place.
std::string overlongDialog(const pe::Resource& resource, const mui::Dialog& translated, uint32_t placeBytes,
                           const Translations& translations);

}  // namespace velmark::cli
