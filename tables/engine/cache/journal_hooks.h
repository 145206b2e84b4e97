// The journal's test hooks: a step before every write and sync of a flush,
// and a call after every journal sync that worked.
#pragma once

namespace rtl {
class TLockedFile;
}

namespace korvex::jnl {

// Runs the step hook, if one is set.
void Step();
// Syncs the journal file; the sync hook hears of every sync that worked.
bool SyncJournal(rtl::TLockedFile& file);

}  // namespace korvex::jnl
