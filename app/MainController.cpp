#include "app/MainController.h"
