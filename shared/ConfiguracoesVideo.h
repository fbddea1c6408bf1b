#pragma once

// The film settings applied to an engine: colour depth, frame rate and compression.

class TAviCapture;

// Sets the engine's PixelFormat from numero_cores_video; an unrecognised name leaves it as it was.
void AplicarCoresVideo(TAviCapture& engine);

// Gives the engine the film settings: its PixelFormat through AplicarCoresVideo, its Rate from
// numero_quadros_por_milisegundo, its PermitirCompactacao from compactar_video and the
// compression while recording through AplicarCompactacaoGravacao.
void AplicarConfiguracoesVideo(TAviCapture& engine);

// Gives the engine CompressWhileRecording from compactar_durante_gravacao and its LiveCompressor
// from compressor_gravacao and qualidade_gravacao. A FourCC no compressor has stays in the options:
// the recording then fails at its start with the compressor's error, rather than recording
// uncompressed behind the user's back.
void AplicarCompactacaoGravacao(TAviCapture& engine);
