// The registry, the environment and the files of this Windows system, as
// the browser's choice and the policy check ask them (BrowserLaunch.h).
#pragma once

#include "BrowserLaunch.h"

BrowserLookups systemBrowserLookups();
PolicyLookup systemPolicies();
