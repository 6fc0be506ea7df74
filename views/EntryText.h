#pragma once
// How the window and the command line tool write an entry's state and date: the same words in
// both, made here rather than in the engine, which hands out values only.
#include <string>

#include "engine/model/FolderReader.h"

namespace umbra {

// "Normal", "Hidden" or "Partly hidden": the state as the views show it.
const char* stateText(FolderState state);
// "normal", "hidden" or "mixed": the state in JSON output.
const char* stateName(FolderState state);
// "2026-5-3 22:12": year, month, day, hour and minute without leading zeros.
std::string modifiedText(const EntryDate& date);
// ISO 8601 with the record's offset from UTC when it gives one: "2026-05-03T22:12:00+02:00".
std::string isoDateText(const EntryDate& date);

}  // namespace umbra
