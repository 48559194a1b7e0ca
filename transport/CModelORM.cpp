#include "transport/CModelORM.h"

template class CModelORM<unsigned int>;
