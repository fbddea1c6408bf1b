#pragma once

// The film settings applied to an engine: colour depth, frame rate and compression.

class TAviCapture;

// Sets the engine's PixelFormat from numero_cores_video; an unrecognised name leaves it as it was.
void AplicarCoresVideo(TAviCapture& engine);

// Gives the engine the film settings: its PixelFormat through AplicarCoresVideo, its Rate from
// numero_quadros_por_milisegundo and its PermitirCompactacao from compactar_video.
void AplicarConfiguracoesVideo(TAviCapture& engine);
