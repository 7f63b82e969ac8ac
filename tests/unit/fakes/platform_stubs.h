#pragma once
// Every method of the platform interfaces the fakes stand in for, answering
// E_NOTIMPL (or nothing) unless a fake overrides it. IUnknown is left to the
// fakes. Written out from the toolchain's own interface declarations.
#include <windows.h>
#include <d3d11.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"

struct StubD3D11VideoDevice : ID3D11VideoDevice {
    HRESULT STDMETHODCALLTYPE CreateVideoDecoder(const D3D11_VIDEO_DECODER_DESC *pVideoDesc, const D3D11_VIDEO_DECODER_CONFIG *pConfig, ID3D11VideoDecoder **ppDecoder) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessor(ID3D11VideoProcessorEnumerator *pEnum, UINT RateConversionIndex, ID3D11VideoProcessor **ppVideoProcessor) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateAuthenticatedChannel(D3D11_AUTHENTICATED_CHANNEL_TYPE ChannelType, ID3D11AuthenticatedChannel **ppAuthenticatedChannel) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateCryptoSession(const GUID *pCryptoType, const GUID *pDecoderProfile, const GUID *pKeyExchangeType, ID3D11CryptoSession **ppCryptoSession) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateVideoDecoderOutputView(ID3D11Resource *pResource, const D3D11_VIDEO_DECODER_OUTPUT_VIEW_DESC *pDesc, ID3D11VideoDecoderOutputView **ppVDOVView) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorInputView(ID3D11Resource *pResource, ID3D11VideoProcessorEnumerator *pEnum, const D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC *pDesc, ID3D11VideoProcessorInputView **ppVPIView) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorOutputView(ID3D11Resource *pResource, ID3D11VideoProcessorEnumerator *pEnum, const D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC *pDesc, ID3D11VideoProcessorOutputView **ppVPOView) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateVideoProcessorEnumerator(const D3D11_VIDEO_PROCESSOR_CONTENT_DESC *pDesc, ID3D11VideoProcessorEnumerator **ppEnum) override { return E_NOTIMPL; }
    UINT STDMETHODCALLTYPE GetVideoDecoderProfileCount() override { return {}; }
    HRESULT STDMETHODCALLTYPE GetVideoDecoderProfile(UINT Index, GUID *pDecoderProfile) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CheckVideoDecoderFormat(const GUID *pDecoderProfile, DXGI_FORMAT Format, WINBOOL *pSupported) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoDecoderConfigCount(const D3D11_VIDEO_DECODER_DESC *pDesc, UINT *pCount) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoDecoderConfig(const D3D11_VIDEO_DECODER_DESC *pDesc, UINT Index, D3D11_VIDEO_DECODER_CONFIG *pConfig) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContentProtectionCaps(const GUID *pCryptoType, const GUID *pDecoderProfile, D3D11_VIDEO_CONTENT_PROTECTION_CAPS *pCaps) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CheckCryptoKeyExchange(const GUID *pCryptoType, const GUID *pDecoderProfile, UINT Index, GUID *pKeyExchangeType) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT DataSize, const void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown *pData) override { return E_NOTIMPL; }
};

struct StubD3D11VideoContext : ID3D11VideoContext {
    void STDMETHODCALLTYPE GetDevice(ID3D11Device **ppDevice) override {}
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT *pDataSize, void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT DataSize, const void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDecoderBuffer(ID3D11VideoDecoder *decoder, D3D11_VIDEO_DECODER_BUFFER_TYPE type, UINT *buffer_size, void **buffer) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReleaseDecoderBuffer(ID3D11VideoDecoder *decoder, D3D11_VIDEO_DECODER_BUFFER_TYPE type) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DecoderBeginFrame(ID3D11VideoDecoder *decoder, ID3D11VideoDecoderOutputView *view, UINT key_size, const void *key) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DecoderEndFrame(ID3D11VideoDecoder *decoder) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SubmitDecoderBuffers(ID3D11VideoDecoder *decoder, UINT buffers_count, const D3D11_VIDEO_DECODER_BUFFER_DESC *buffer_desc) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DecoderExtension(ID3D11VideoDecoder *decoder, const D3D11_VIDEO_DECODER_EXTENSION *extension) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE VideoProcessorSetOutputTargetRect(ID3D11VideoProcessor *processor, WINBOOL enable, const RECT *rect) override {}
    void STDMETHODCALLTYPE VideoProcessorSetOutputBackgroundColor(ID3D11VideoProcessor *processor, WINBOOL y_cb_cr, const D3D11_VIDEO_COLOR *color) override {}
    void STDMETHODCALLTYPE VideoProcessorSetOutputColorSpace(ID3D11VideoProcessor *processor, const D3D11_VIDEO_PROCESSOR_COLOR_SPACE *color_space) override {}
    void STDMETHODCALLTYPE VideoProcessorSetOutputAlphaFillMode(ID3D11VideoProcessor *processor, D3D11_VIDEO_PROCESSOR_ALPHA_FILL_MODE alpha_fill_mode, UINT stream_idx) override {}
    void STDMETHODCALLTYPE VideoProcessorSetOutputConstriction(ID3D11VideoProcessor *processor, WINBOOL enable, SIZE size) override {}
    void STDMETHODCALLTYPE VideoProcessorSetOutputStereoMode(ID3D11VideoProcessor *processor, WINBOOL enable) override {}
    HRESULT STDMETHODCALLTYPE VideoProcessorSetOutputExtension(ID3D11VideoProcessor *processor, const GUID *guid, UINT data_size, void *data) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE VideoProcessorGetOutputTargetRect(ID3D11VideoProcessor *processor, WINBOOL *enabled, RECT *rect) override {}
    void STDMETHODCALLTYPE VideoProcessorGetOutputBackgroundColor(ID3D11VideoProcessor *processor, WINBOOL *y_cb_cr, D3D11_VIDEO_COLOR *color) override {}
    void STDMETHODCALLTYPE VideoProcessorGetOutputColorSpace(ID3D11VideoProcessor *processor, D3D11_VIDEO_PROCESSOR_COLOR_SPACE *color_space) override {}
    void STDMETHODCALLTYPE VideoProcessorGetOutputAlphaFillMode(ID3D11VideoProcessor *processor, D3D11_VIDEO_PROCESSOR_ALPHA_FILL_MODE *alpha_fill_mode, UINT *stream_idx) override {}
    void STDMETHODCALLTYPE VideoProcessorGetOutputConstriction(ID3D11VideoProcessor *processor, WINBOOL *enabled, SIZE *size) override {}
    void STDMETHODCALLTYPE VideoProcessorGetOutputStereoMode(ID3D11VideoProcessor *processor, WINBOOL *enabled) override {}
    HRESULT STDMETHODCALLTYPE VideoProcessorGetOutputExtension(ID3D11VideoProcessor *processor, const GUID *guid, UINT data_size, void *data) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE VideoProcessorSetStreamFrameFormat(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_FRAME_FORMAT format) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamColorSpace(ID3D11VideoProcessor *processor, UINT stream_idx, const D3D11_VIDEO_PROCESSOR_COLOR_SPACE *color_space) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamOutputRate(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_PROCESSOR_OUTPUT_RATE rate, WINBOOL repeat, const DXGI_RATIONAL *custom_rate) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamSourceRect(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, const RECT *rect) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamDestRect(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, const RECT *rect) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamAlpha(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, float alpha) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamPalette(ID3D11VideoProcessor *processor, UINT stream_idx, UINT entry_count, const UINT *entries) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamPixelAspectRatio(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, const DXGI_RATIONAL *src_aspect_ratio, const DXGI_RATIONAL *dst_aspect_ratio) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamLumaKey(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, float lower, float upper) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamStereoFormat(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, D3D11_VIDEO_PROCESSOR_STEREO_FORMAT format, WINBOOL left_view_frame0, WINBOOL base_view_frame0, D3D11_VIDEO_PROCESSOR_STEREO_FLIP_MODE flip_mode, int mono_offset) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamAutoProcessingMode(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable) override {}
    void STDMETHODCALLTYPE VideoProcessorSetStreamFilter(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_PROCESSOR_FILTER filter, WINBOOL enable, int level) override {}
    HRESULT STDMETHODCALLTYPE VideoProcessorSetStreamExtension(ID3D11VideoProcessor *processor, UINT stream_idx, const GUID *guid, UINT data_size, void *data) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE VideoProcessorGetStreamFrameFormat(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_FRAME_FORMAT *format) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamColorSpace(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_PROCESSOR_COLOR_SPACE *color_space) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamOutputRate(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_PROCESSOR_OUTPUT_RATE *rate, WINBOOL *repeat, DXGI_RATIONAL *custom_rate) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamSourceRect(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled, RECT *rect) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamDestRect(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled, RECT *rect) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamAlpha(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled, float *alpha) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamPalette(ID3D11VideoProcessor *processor, UINT stream_idx, UINT entry_count, UINT *entries) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamPixelAspectRatio(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled, DXGI_RATIONAL *src_aspect_ratio, DXGI_RATIONAL *dst_aspect_ratio) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamLumaKey(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled, float *lower, float *upper) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamStereoFormat(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled, D3D11_VIDEO_PROCESSOR_STEREO_FORMAT *format, WINBOOL *left_view_frame0, WINBOOL *base_view_frame0, D3D11_VIDEO_PROCESSOR_STEREO_FLIP_MODE *flip_mode, int *mono_offset) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamAutoProcessingMode(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enabled) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamFilter(ID3D11VideoProcessor *processor, UINT stream_idx, D3D11_VIDEO_PROCESSOR_FILTER filter, WINBOOL *enabled, int *level) override {}
    HRESULT STDMETHODCALLTYPE VideoProcessorGetStreamExtension(ID3D11VideoProcessor *processor, UINT stream_idx, const GUID *guid, UINT data_size, void *data) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE VideoProcessorBlt(ID3D11VideoProcessor *processor, ID3D11VideoProcessorOutputView *view, UINT frame_idx, UINT stream_count, const D3D11_VIDEO_PROCESSOR_STREAM *streams) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NegotiateCryptoSessionKeyExchange(ID3D11CryptoSession *session, UINT data_size, void *data) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE EncryptionBlt(ID3D11CryptoSession *session, ID3D11Texture2D *src_surface, ID3D11Texture2D *dst_surface, UINT iv_size, void *iv) override {}
    void STDMETHODCALLTYPE DecryptionBlt(ID3D11CryptoSession *session, ID3D11Texture2D *src_surface, ID3D11Texture2D *dst_surface, D3D11_ENCRYPTED_BLOCK_INFO *block_info, UINT key_size, const void *key, UINT iv_size, void *iv) override {}
    void STDMETHODCALLTYPE StartSessionKeyRefresh(ID3D11CryptoSession *session, UINT random_number_size, void *random_number) override {}
    void STDMETHODCALLTYPE FinishSessionKeyRefresh(ID3D11CryptoSession *session) override {}
    HRESULT STDMETHODCALLTYPE GetEncryptionBltKey(ID3D11CryptoSession *session, UINT key_size, void *key) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NegotiateAuthenticatedChannelKeyExchange(ID3D11AuthenticatedChannel *channel, UINT data_size, void *data) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAuthenticatedChannel(ID3D11AuthenticatedChannel *channel, UINT input_size, const void *input, UINT output_size, void *output) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConfigureAuthenticatedChannel(ID3D11AuthenticatedChannel *channel, UINT input_size, const void *input, D3D11_AUTHENTICATED_CONFIGURE_OUTPUT *output) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE VideoProcessorSetStreamRotation(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL enable, D3D11_VIDEO_PROCESSOR_ROTATION rotation) override {}
    void STDMETHODCALLTYPE VideoProcessorGetStreamRotation(ID3D11VideoProcessor *processor, UINT stream_idx, WINBOOL *enable, D3D11_VIDEO_PROCESSOR_ROTATION *rotation) override {}
};

struct StubD3D11VideoProcessorEnumerator : ID3D11VideoProcessorEnumerator {
    void STDMETHODCALLTYPE GetDevice(ID3D11Device **ppDevice) override {}
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT *pDataSize, void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT DataSize, const void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoProcessorContentDesc(D3D11_VIDEO_PROCESSOR_CONTENT_DESC *pContentDesc) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CheckVideoProcessorFormat(DXGI_FORMAT Format, UINT *pFlags) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoProcessorCaps(D3D11_VIDEO_PROCESSOR_CAPS *pCaps) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoProcessorRateConversionCaps(UINT TypeIndex, D3D11_VIDEO_PROCESSOR_RATE_CONVERSION_CAPS *pCaps) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoProcessorCustomRate(UINT TypeIndex, UINT CustomRateIndex, D3D11_VIDEO_PROCESSOR_CUSTOM_RATE *pRate) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVideoProcessorFilterRange(D3D11_VIDEO_PROCESSOR_FILTER Filter, D3D11_VIDEO_PROCESSOR_FILTER_RANGE *pRange) override { return E_NOTIMPL; }
};

struct StubD3D11VideoProcessor : ID3D11VideoProcessor {
    void STDMETHODCALLTYPE GetDevice(ID3D11Device **ppDevice) override {}
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT *pDataSize, void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT DataSize, const void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown *pData) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetContentDesc(D3D11_VIDEO_PROCESSOR_CONTENT_DESC *pDesc) override {}
    void STDMETHODCALLTYPE GetRateConversionCaps(D3D11_VIDEO_PROCESSOR_RATE_CONVERSION_CAPS *pCaps) override {}
};

struct StubD3D11VideoProcessorInputView : ID3D11VideoProcessorInputView {
    void STDMETHODCALLTYPE GetResource(ID3D11Resource **ppResource) override {}
    void STDMETHODCALLTYPE GetDevice(ID3D11Device **ppDevice) override {}
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT *pDataSize, void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT DataSize, const void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown *pData) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDesc(D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC *pDesc) override {}
};

struct StubD3D11VideoProcessorOutputView : ID3D11VideoProcessorOutputView {
    void STDMETHODCALLTYPE GetResource(ID3D11Resource **ppResource) override {}
    void STDMETHODCALLTYPE GetDevice(ID3D11Device **ppDevice) override {}
    HRESULT STDMETHODCALLTYPE GetPrivateData(REFGUID guid, UINT *pDataSize, void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateData(REFGUID guid, UINT DataSize, const void *pData) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPrivateDataInterface(REFGUID guid, const IUnknown *pData) override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE GetDesc(D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC *pDesc) override {}
};

struct StubMFSinkWriter : IMFSinkWriter {
    HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType *type, DWORD *index) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD index, IMFMediaType *type, IMFAttributes *parameters) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginWriting() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD index, IMFSample *sample) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD index, LONGLONG timestamp) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD index, void *context) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD index) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Flush(DWORD index) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Finalize() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD index, REFGUID service, REFIID riid, void **object) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatistics(DWORD index, MF_SINK_WRITER_STATISTICS *stats) override { return E_NOTIMPL; }
};

struct StubMFByteStream : IMFByteStream {
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *pdwCapabilities) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLength(QWORD *pqwLength) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLength(QWORD qwLength) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(QWORD *pqwPosition) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(QWORD qwPosition) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsEndOfStream(WINBOOL *pfEndOfStream) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Read(BYTE *pb, ULONG cb, ULONG *pcbRead) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginRead(BYTE *pb, ULONG cb, IMFAsyncCallback *pCallback, IUnknown *punkState) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndRead(IMFAsyncResult *pResult, ULONG *pcbRead) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Write(const BYTE *pb, ULONG cb, ULONG *pcbWritten) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginWrite(const BYTE *pb, ULONG cb, IMFAsyncCallback *pCallback, IUnknown *punkState) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndWrite(IMFAsyncResult *pResult, ULONG *pcbWritten) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Seek(MFBYTESTREAM_SEEK_ORIGIN SeekOrigin, LONGLONG llSeekOffset, DWORD dwSeekFlags, QWORD *pqwCurrentPosition) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Flush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override { return E_NOTIMPL; }
};

struct StubMMDeviceEnumerator : IMMDeviceEnumerator {
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow dataFlow, DWORD dwStateMask, IMMDeviceCollection **ppDevices) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role, IMMDevice **ppEndpoint) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR pwstrId, IMMDevice **ppDevice) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RegisterEndpointNotificationCallback(IMMNotificationClient *pClient) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnregisterEndpointNotificationCallback(IMMNotificationClient *pClient) override { return E_NOTIMPL; }
};

struct StubMMDevice : IMMDevice {
    HRESULT STDMETHODCALLTYPE Activate(REFIID iid, DWORD dwClsCtx, PROPVARIANT *pActivationParams, void **ppv) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD stgmAccess, IPropertyStore **ppProperties) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR *ppstrId) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD *pdwState) override { return E_NOTIMPL; }
};

struct StubAudioClient : IAudioClient {
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE ShareMode, DWORD StreamFlags, REFERENCE_TIME hnsBufferDuration, REFERENCE_TIME hnsPeriodicity, const WAVEFORMATEX *pFormat, LPCGUID AudioSessionGuid) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32 *pNumBufferFrames) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME *phnsLatency) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32 *pNumPaddingFrames) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE ShareMode, const WAVEFORMATEX *pFormat, WAVEFORMATEX **ppClosestMatch) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX **ppDeviceFormat) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME *phnsDefaultDevicePeriod, REFERENCE_TIME *phnsMinimumDevicePeriod) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE eventHandle) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetService(REFIID riid, void **ppv) override { return E_NOTIMPL; }
};

struct StubAudioCaptureClient : IAudioCaptureClient {
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE **ppData, UINT32 *pNumFramesToRead, DWORD *pdwFlags, UINT64 *pu64DevicePosition, UINT64 *pu64QPCPosition) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 NumFramesRead) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32 *pNumFramesInNextPacket) override { return E_NOTIMPL; }
};

struct StubMFSourceReader : IMFSourceReader {
    HRESULT STDMETHODCALLTYPE GetStreamSelection(DWORD index, WINBOOL* selected) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD index, WINBOOL selected) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNativeMediaType(DWORD index, DWORD typeindex, IMFMediaType** type) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentMediaType(DWORD index, IMFMediaType** type) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCurrentMediaType(DWORD index, DWORD* reserved, IMFMediaType* type) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(REFGUID format, REFPROPVARIANT position) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReadSample(DWORD index, DWORD flags, DWORD* actualindex, DWORD* sampleflags,
                                         LONGLONG* timestamp, IMFSample** sample) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Flush(DWORD index) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD index, REFGUID service, REFIID riid, void** object) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPresentationAttribute(DWORD index, REFGUID guid, PROPVARIANT* attr) override { return E_NOTIMPL; }
};
struct StubMFActivate : IMFActivate {
    HRESULT STDMETHODCALLTYPE GetItem(REFGUID key, PROPVARIANT* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareItem(REFGUID key, REFPROPVARIANT value, WINBOOL* result) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, WINBOOL* result) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID key, UINT32* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID key, UINT64* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDouble(REFGUID key, double* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGUID(REFGUID key, GUID* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID key, UINT32* length) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID key, UINT32* size) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* length) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID key, REFIID iid, LPVOID* object) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetItem(REFGUID key, REFPROPVARIANT value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID key) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID key, UINT32 value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID key, UINT64 value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDouble(REFGUID key, double value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID key, REFGUID value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetString(REFGUID key, LPCWSTR value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID key, IUnknown* object) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockStore() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockStore() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCount(UINT32* count) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* target) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID iid, void** object) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShutdownObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DetachObject() override { return E_NOTIMPL; }
};

struct StubMFMediaSource : IMFMediaSource {
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extended, HRESULT status, const PROPVARIANT* value) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* descriptor, const GUID* format, const PROPVARIANT* start) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return E_NOTIMPL; }
};

#pragma GCC diagnostic pop
