// Choosing the language module at process attach and releasing it at detach.
#pragma once

void selectLanguageModule();
void releaseLanguageModule();
