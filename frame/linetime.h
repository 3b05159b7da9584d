#ifndef LINETIME_H
#define LINETIME_H

// Time on a serial line at 8N1 as Modbus RTU counts it: 11 bits a character.
namespace LineTime {

const int BitsPerCharacter = 11;
// USB adapters hold received bytes back for up to some 16 ms before they
// pass them on, so a pause shorter than this may be the adapter's, not the
// sender's.
const int AdapterFloorMs = 30;

double characterMs(int baud);
// The 3.5 characters of silence that end a frame, never less than the
// adapters' floor.
int silenceMs(int baud);
// How long these many bytes take on the wire, rounded up.
int wireMs(int bytes, int baud);

} // namespace LineTime

#endif // LINETIME_H
