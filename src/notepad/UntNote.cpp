#include "UntNote.h"

TNote* NoteData = nullptr;
