#include "uartparam.h"

UartParamRecord UartParam;
