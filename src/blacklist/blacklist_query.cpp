/* The blacklist client. Every address costs one request over a new TCP
 * connection to the service; the reply is whatever the server sends until it
 * closes the connection, collected in the ReplyBuffer. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "blacklist/blacklist_query.h"

#define SERVICE_PORT 80
#define REQUEST_SIZE 1024

/* The request text around the host name and the address, and the room the
 * address may take so that the text and its zero byte stay in the block. */
#define REQUEST_FORMAT "GET http://%s/api?ip=%.*s\n\r\n"
#define REQUEST_FIXED_LENGTH (sizeof("GET http:///api?ip=\n\r\n") - 1)
#define ADDRESS_ROOM ((int)(REQUEST_SIZE - REQUEST_FIXED_LENGTH - (sizeof(QV_SERVICE_HOST) - 1) - 1))

char ReplyBuffer[REPLY_BUFFER_SIZE];

static const char FailureText[] = "连接spam服务器失败！";
static const char WarningCaption[] = "警告";

/* Set once the network layer has started; it then stays up for the life of
 * the process, so no query pays for the start-up again. */
static int NetworkStarted;

static void StartNetwork(void)
{
    WSADATA data;

    if (!NetworkStarted && WSAStartup(MAKEWORD(2, 0), &data) == 0)
        NetworkStarted = 1;
}

/* Opens a connection to the service, or returns INVALID_SOCKET when none
 * could be made; no socket is left open then. */
static SOCKET ConnectToService(void)
{
    struct sockaddr_in server;
    SOCKET s;

    memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(SERVICE_PORT);
    server.sin_addr.s_addr = inet_addr(QV_SERVICE_ADDRESS);

    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    if (connect(s, (struct sockaddr *)&server, sizeof server) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

char *QueryBlacklist(const char *address)
{
    char request[REQUEST_SIZE];
    SOCKET s;
    int received;
    int n;

    memset(request, 0, sizeof request);
    sprintf(request, REQUEST_FORMAT, QV_SERVICE_HOST, ADDRESS_ROOM, address);

    StartNetwork();
    s = ConnectToService();
    if (s == INVALID_SOCKET) {
        MessageBoxA(NULL, FailureText, WarningCaption, MB_ICONERROR | MB_SYSTEMMODAL);
        return NULL;
    }

    send(s, request, REQUEST_SIZE, 0);

    /* The buffer starts empty for every reply, so a reply too short to hold
     * the verdict byte shows no verdict rather than an earlier reply's. */
    memset(ReplyBuffer, 0, sizeof ReplyBuffer);
    received = 0;
    while (received < REPLY_BUFFER_SIZE) {
        n = recv(s, ReplyBuffer + received, REPLY_BUFFER_SIZE - received, 0);
        if (n == 0 || n == SOCKET_ERROR)
            break;
        received += n;
    }
    /* A reply that fills the buffer is cut there: what follows is never read. */
    closesocket(s);
    return ReplyBuffer;
}
