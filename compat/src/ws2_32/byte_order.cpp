// ws2_32 byte order: the network order is big-endian, whatever the host's.
#include <winsock2.h>

namespace {

constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

inline u_short Swap16(u_short v) { return kHostIsBigEndian ? v : __builtin_bswap16(v); }
inline ULONG Swap32(ULONG v) { return kHostIsBigEndian ? v : __builtin_bswap32(v); }

}  // namespace

u_short WINAPI htons(u_short hostshort) { return Swap16(hostshort); }
u_short WINAPI ntohs(u_short netshort) { return Swap16(netshort); }
ULONG WINAPI htonl(ULONG hostlong) { return Swap32(hostlong); }
ULONG WINAPI ntohl(ULONG netlong) { return Swap32(netlong); }
