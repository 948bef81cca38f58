#pragma once

// Makes the formatting conventions of English (United Kingdom) the process-wide defaults: Qt's default
// locale for dates, times and names, and "." as the C library's decimal point, whatever the user's
// environment says. Call after the application object exists (it sets the C locale from the environment).
void ApplyRegionalSettings();
