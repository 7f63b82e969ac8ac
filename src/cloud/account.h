#pragma once
// The saved sign-in: account.dat in the data folder, protected for the current
// Windows user. Nothing is cached: every question reads the file again. Only
// a store: talking to the service is for the sign-in flows and the client.
#include <mutex>
#include <string>

#include "cloud/cloud_core.h"  // Account

std::wstring AccountFilePath();

// Held while account.dat is written or deleted; reads take no lock.
std::mutex& AccountFileLock();

// False for a missing, unreadable, foreign or damaged file.
bool LoadAccount(Account& account);
// Call with AccountFileLock held. The file is replaced whole; false leaves
// any existing file alone.
bool SaveAccount(const Account& account);
// Local sign-out: deletes account.dat (a missing file is fine) and logs it.
void ForgetAccount();

bool IsSignedIn();
std::wstring SignedInEmail();      // empty when signed out
std::wstring SignedInWorkspace();  // empty when signed out
