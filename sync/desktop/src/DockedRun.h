// One synchronisation of the docked handheld with Tabulon Pro, from the
// agent's StartSync to its EndSync, all on the calling thread:
//
//  1. the agent found through the handheld's registration; StartSync
//  2. the log opened with the date and time
//  3. to 5. the DDE conversation with Tabulon Pro's plug-in: version, the
//     handheld's name and partner identifier
//  6. the exchange folder made and sent
//  7. the handheld's databases, each matched with Tabulon Pro's (skipped
//     when it has none), its changes exported on the handheld, copied here
//     and checked whole, merged by Tabulon Pro, and the desktop's copy sent
//     back for the handheld to rebuild from
//  8. the desktop databases the handheld lacks, made on the handheld
//  9. the conversation ended, the local "TBSC.sdb" deleted
// 10. the log closed with how the run went
// 11. a message to the person when there were problems, with a button that
//     opens the log
// 12. EndSync, always once StartSync was asked for
//
// The run shares the process's connection to the handheld: it opens one
// only when there is none, and closes only that one.
#pragma once

#include "ProviderTexts.h"
#include "ReplStore.h"

namespace tbm::desksync {

// Runs one synchronisation. notify is the service's (for the selected
// handheld and for telling the person); texts the store's.
void RunDockedSynchronisation(IReplNotify* notify, const ProviderTexts& texts);

// Tells the person text through notify's IReplMessages (a program log line
// when it offers none). action may be null; ShowMessage takes its own
// reference.
void TellPerson(IReplNotify* notify, const std::string& caption, const std::string& text,
                const std::string& actionText, IReplMessageAction* action);

}  // namespace tbm::desksync
