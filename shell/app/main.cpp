// kestrova: the local companion program of the device management page.
#include "shell/app/CKestrovaApp.h"

int main() { return kestrova::CKestrovaApp().run(); }
