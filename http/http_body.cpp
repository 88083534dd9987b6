// The body reader: counts and delivers body blocks, decodes chunks, and ends the document.
#include "http/http_cli.h"

void THttpCli::GetBodyLineNext() {
    Trace(loProtSpecInfo, "GetBodyLineNext begin");
    if (response_.bodyLinesSeen == 0) {
        chunkDecoder_.Reset();
        RaiseDocBegin();
        if (AbortedDuringEvent()) return;
        contentCoding_.Prepare(response_.contentCodingHeader);
        streamStartSize_ = BodyStream ? BodyStream->Size() : 0;
    }
    ++response_.bodyLinesSeen;
    Trace(loProtSpecInfo, "GetBodyLineNext FBodyDataLen=", bodyDataLen_);

    if (response_.chunked) {
        ReadChunkedBlock();
    } else {
        if (bodyDataLen_ > 0) {
            response_.bodyReceivedCount += bodyDataLen_;
            DeliverBody(bodyBlock_, bodyDataLen_);
            if (AbortedDuringEvent()) return;
        }
        // A headerless answer's first line is delivered whole and may pass the length.
        if (response_.documentLength != -1 &&
            response_.bodyReceivedCount >= response_.documentLength) {
            Trace(loProtSpecInfo, "End of document");
            EndOfDocument();
        }
    }
    Trace(loProtSpecInfo, "GetBodyLineNext end");
}

void THttpCli::ReadChunkedBlock() {
    const char* pos = bodyBlock_;
    const char* end = bodyBlock_ + bodyDataLen_;
    while (pos < end && !chunkDecoder_.Done()) {
        TChunkDecoder::Piece piece = chunkDecoder_.Next(pos, end);
        if (chunkDecoder_.TakeSizeRead())
            Trace(loProtSpecInfo, "ChunkLength = ", chunkDecoder_.ChunkLength());
        if (chunkDecoder_.Failed()) {
            FailProtocol("Invalid chunk size in the document from the server");
            return;
        }
        if (piece.length > 0) {
            response_.bodyReceivedCount += piece.length;
            DeliverBody(piece.data, piece.length);
            if (AbortedDuringEvent()) return;
        }
    }
    if (chunkDecoder_.Done()) {
        Trace(loProtSpecInfo, "httpChunkDone, end of document");
        EndOfDocument();
    }
}

// The content decoding writes the block to BodyStream and raises OnDocData.
void THttpCli::DeliverBody(const char* data, int length) {
    contentCoding_.Write(data, length);
}

void THttpCli::EndOfDocument() {
    response_.bodyLinesSeen = 0;
    nextStep_ = nullptr;
    EnterState(httpBodyReceived);
    StopBandwidthTimer();
    LiftBandwidthPause();
    if (AbortedDuringEvent()) return;
    contentCoding_.Complete();
    if (BodyStream && !response_.contentCodingHeader.empty() && !response_.chunked)
        Trace(loProtSpecInfo, response_.contentCodingHeader, " content uncompressed from ",
              response_.documentLength, " bytes to ", BodyStream->Size(), " bytes");
    RaiseDocEnd();
    if (AbortedDuringEvent()) return;
    if (closeReq_) ctrlSocket_->CloseLater();
    // The caller goes on with a pending relocation or makes the client ready.
}
