#pragma once

// The store of the one note per group.
class TNote {
public:
};

extern TNote* NoteData;
