#include "picture/abstractanimationreader.h"

AbstractAnimationReader::~AbstractAnimationReader() = default;
