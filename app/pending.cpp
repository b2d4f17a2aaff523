// Steps of the run that are called at their places in the flow but do
// nothing yet: each moves to its own module when it is built.
#include "archive/backup.h"
#include "archive/report.h"
#include "ime/checks.h"
#include "ime/register.h"
#include "install/skins.h"

