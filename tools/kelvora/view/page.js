// The slice page of one loop: draws the waveform and the slice points, re-cuts the loop at any
// sensitivity with the engine's rule, plays slices with Web Audio and writes them as WAV files.
// Everything comes from the two data elements of this page; nothing is fetched.
"use strict";

const loop = JSON.parse(document.getElementById("loop-data").textContent);
const audio = parseWav(base64Bytes(document.getElementById("loop-audio").textContent));
const svgNamespace = "http://www.w3.org/2000/svg";
const layout = { top: 20, numbers: 38, bottom: 20 }; // pixel bands above and below the wave

const state = {
  sensitivity: loop.sensitivity,
  cutting: [],   // per slice point: whether it cuts at the current sensitivity
  regions: [],   // {start, length} of every slice at the current sensitivity
  selected: -1,  // index into regions
  playing: null, // {node, start, length, repeat, began}
  context: null,
  loopBuffer: null,
  animation: 0,
};

const elements = {
  slider: document.getElementById("sensitivity"),
  value: document.getElementById("sensitivity-value"),
  count: document.getElementById("active-count"),
  command: document.getElementById("command"),
  view: document.getElementById("view"),
  canvas: document.getElementById("wave"),
  overlay: document.getElementById("overlay"),
  list: document.getElementById("slices"),
  play: document.getElementById("play"),
  status: document.getElementById("status"),
};

// ---- Decoding the embedded audio ----

function base64Bytes(text) {
  const binary = atob(text.trim());
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// Reads the WAV the tool embeds (16- or 24-bit PCM, or 32-bit float) into one Float32Array per
// channel. PCM is scaled by 2^(bits-1), as the tool's reader does, so the floats are the
// engine's own.
function parseWav(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const tag = (at) => String.fromCharCode(...bytes.subarray(at, at + 4));
  if (tag(0) !== "RIFF" || tag(8) !== "WAVE") throw new Error("the embedded audio is not WAV");
  let format = null;
  for (let at = 12; at + 8 <= bytes.length;) {
    const size = view.getUint32(at + 4, true);
    const body = at + 8;
    if (tag(at) === "fmt ") {
      format = {
        float: view.getUint16(body, true) === 3,
        channels: view.getUint16(body + 2, true),
        rate: view.getUint32(body + 4, true),
        bits: view.getUint16(body + 14, true),
      };
    } else if (tag(at) === "data" && format) {
      const width = format.bits / 8;
      const frames = Math.floor(size / (width * format.channels));
      const channels = [];
      for (let c = 0; c < format.channels; ++c) channels.push(new Float32Array(frames));
      const scale = 2 ** (format.bits - 1);
      let offset = body;
      for (let i = 0; i < frames; ++i) {
        for (let c = 0; c < format.channels; ++c, offset += width) {
          let sample;
          if (format.float) sample = view.getFloat32(offset, true);
          else if (width === 2) sample = view.getInt16(offset, true) / scale;
          else sample = ((view.getInt8(offset + 2) << 16) | view.getUint16(offset, true)) / scale;
          channels[c][i] = sample;
        }
      }
      return { rate: format.rate, channels, frames };
    }
    at = body + size + (size & 1);
  }
  throw new Error("the embedded audio has no samples");
}

// ---- The tool's cut rule ----

// A deleted point never cuts; a locked one always does otherwise; a point the tool switched off
// never does; the rest cut when the sensitivity is above 0 and their strength reaches
// (1 - sensitivity)^2, the square taken in single precision as the engine takes it.
function threshold(sensitivity) {
  const open = Math.fround(1 - Math.fround(sensitivity));
  return Math.fround(open * open);
}

function passes(point, sensitivity) {
  if (point.deleted) return false;
  if (point.locked) return true;
  if (point.disabled || !(sensitivity > 0) || point.strength === null) return false;
  return Math.fround(point.strength) >= threshold(sensitivity);
}

// Which points cut at a sensitivity. As the tool does, a first slice shorter than a sliver is
// folded into the next one by switching its cut off, again while the new first slice is still a
// sliver; a locked cut stops the folding.
function cuttingAt(sensitivity) {
  const on = loop.slices.map((point) => passes(point, sensitivity));
  for (;;) {
    let first = loop.frames;
    loop.slices.forEach((point, i) => {
      if (on[i] && point.position > 0) first = Math.min(first, point.position);
    });
    if (first >= loop.frames || first >= loop.sliverFrames) return on;
    let folded = false;
    loop.slices.forEach((point, i) => {
      if (on[i] && point.position === first && !point.locked) folded = !(on[i] = false);
    });
    if (!folded) return on;
  }
}

// Frames of silence the loop starts with: a first slice no longer than this is part of the next.
const silentLeadIn = (() => {
  const peak = Math.fround(loop.silentPeak);
  for (let i = 0; i < audio.frames; ++i)
    if (audio.channels.some((samples) => Math.abs(samples[i]) >= peak)) return i;
  return audio.frames;
})();

// The loop cut at its active points: each slice runs from one cut (or the loop start) to the
// next (or the loop end). Cuts at the very start or at the end make no slice of their own, and
// a silent lead-in belongs to the first hit.
function regionsAt(on) {
  const positions = loop.slices
    .filter((point, i) => on[i] && point.position > 0 && point.position < loop.frames)
    .map((point) => point.position)
    .sort((a, b) => a - b);
  const starts = [0, ...new Set(positions)];
  if (starts.length > 1 && starts[1] <= silentLeadIn) starts.splice(1, 1);
  return starts.map((start, i) => ({ start, length: (starts[i + 1] ?? loop.frames) - start }));
}

// ---- Text ----

function seconds(frames) {
  return frames / loop.sampleRate;
}

function shellWord(text) {
  return /^[\w.\/+:=-]+$/.test(text) ? text : "'" + text.replace(/'/g, "'\\''") + "'";
}

function stem() {
  return loop.name.replace(/\.[^.]*$/, "");
}

// The export command that cuts the same slices: the meter and the cut options this page was made
// with, and the sensitivity chosen here.
function commandLine(sensitivityText) {
  const meter = loop.meter;
  const words = ["kelvora", "export", shellWord(loop.file), "--dir", shellWord(stem() + "-slices"),
                 "--sensitivity", sensitivityText, ...loop.cutOptions.map(shellWord),
                 "--bars", String(meter.bars), "--beats-per-bar", String(meter.beatsPerBar),
                 "--beat-unit", String(meter.beatUnit)];
  if (meter.extraBeats) words.push("--extra-beats", String(meter.extraBeats));
  if (loop.loopTempoFixed) words.push("--loop-tempo", String(loop.loopTempo));
  return words.join(" ");
}

function sliceFileName(index) {
  const width = Math.max(2, String(state.regions.length).length);
  return stem() + "-slice" + String(index + 1).padStart(width, "0") + ".wav";
}

function describeLoop() {
  const meter = loop.meter;
  const channels = loop.channels === 1 ? "mono" : loop.channels === 2 ? "stereo" : loop.channels + " channels";
  let text = `${seconds(loop.frames).toFixed(3)} s, ${loop.sampleRate} Hz, ${channels}, ` +
    `${(loop.loopTempo ?? 0).toFixed(2)} BPM, ${meter.bars} ${meter.bars === 1 ? "bar" : "bars"} of ` +
    `${meter.beatsPerBar}/${meter.beatUnit}`;
  if (meter.extraBeats) text += ` + ${meter.extraBeats} ${meter.extraBeats === 1 ? "beat" : "beats"}`;
  text += `, ${loop.slices.length} slice points, detection window ${loop.detectionWindowMs} ms`;
  document.getElementById("facts").textContent = text;
}

// ---- Drawing ----

function svg(name, attributes, parent) {
  const element = document.createElementNS(svgNamespace, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  parent.appendChild(element);
  return element;
}

function geometry() {
  const width = elements.view.clientWidth;
  const height = elements.view.clientHeight;
  const waveTop = layout.numbers;
  const waveBottom = height - layout.bottom;
  return { width, height, waveTop, waveBottom, x: (frame) => (frame / loop.frames) * width };
}

function drawWave() {
  const g = geometry();
  const ratio = window.devicePixelRatio || 1;
  const canvas = elements.canvas;
  canvas.width = Math.max(1, Math.round(g.width * ratio));
  canvas.height = Math.max(1, Math.round(g.height * ratio));
  const draw = canvas.getContext("2d");
  draw.setTransform(ratio, 0, 0, ratio, 0, 0);
  draw.clearRect(0, 0, g.width, g.height);
  draw.fillStyle = getComputedStyle(document.documentElement).getPropertyValue("--wave");
  const lane = (g.waveBottom - g.waveTop) / audio.channels.length;
  const columns = Math.max(1, Math.floor(g.width * ratio));
  audio.channels.forEach((samples, c) => {
    const middle = g.waveTop + lane * (c + 0.5);
    for (let column = 0; column < columns; ++column) {
      const from = Math.floor((column / columns) * audio.frames);
      const to = Math.max(from + 1, Math.floor(((column + 1) / columns) * audio.frames));
      let low = 0, high = 0;
      for (let i = from; i < to && i < audio.frames; ++i) {
        const sample = samples[i];
        if (sample < low) low = sample;
        if (sample > high) high = sample;
      }
      // Out-of-range samples stay inside their own lane.
      low = Math.max(low, -1);
      high = Math.min(high, 1);
      const top = middle - high * lane * 0.47;
      const bottom = middle - low * lane * 0.47;
      draw.fillRect(column / ratio, top, 1 / ratio, Math.max(bottom - top, 1 / ratio));
    }
  });
}

function niceStep(span, pixels, minimumPixels) {
  for (const step of [0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300])
    if ((step / span) * pixels >= minimumPixels) return step;
  return span;
}

function drawGrid(g, layer) {
  const meter = loop.meter;
  const beats = meter.bars * meter.beatsPerBar + meter.extraBeats;
  if (loop.loopTempo > 0 && beats > 0) {
    const beatFrames = (loop.sampleRate * 60) / loop.loopTempo;
    const beatPixels = g.x(beatFrames);
    for (let beat = 0; beat * beatFrames < loop.frames; ++beat) {
      const x = g.x(beat * beatFrames);
      const onBar = beat % meter.beatsPerBar === 0;
      if (!onBar && beatPixels < 6) continue;
      svg("line", { class: onBar ? "bar-line" : "beat-line", x1: x, x2: x, y1: onBar ? 2 : layout.top,
                    y2: g.waveBottom }, layer);
      const bar = Math.floor(beat / meter.beatsPerBar) + 1;
      const label = onBar ? String(bar) : `${bar}.${(beat % meter.beatsPerBar) + 1}`;
      if (onBar || beatPixels >= 34)
        svg("text", { x: x + 3, y: 13 }, layer).textContent = label;
    }
  }
  const total = seconds(loop.frames);
  const step = niceStep(total, g.width, 64);
  for (let i = 0; i * step <= total + 1e-9; ++i) {
    const x = g.x(i * step * loop.sampleRate);
    svg("line", { class: "beat-line", x1: x, x2: x, y1: g.waveBottom, y2: g.waveBottom + 5 }, layer);
    if (x < g.width - 30)
      svg("text", { x: x + 3, y: g.height - 5 }, layer).textContent =
        `${+(i * step).toFixed(2)} s`;
  }
}

function drawOverlay() {
  const g = geometry();
  const overlay = elements.overlay;
  overlay.replaceChildren();
  overlay.setAttribute("viewBox", `0 0 ${g.width} ${g.height}`);
  drawGrid(g, svg("g", {}, overlay));

  const regions = svg("g", {}, overlay);
  state.regions.forEach((region, i) => {
    const x = g.x(region.start);
    const width = Math.max(g.x(region.start + region.length) - x, 1);
    const rect = svg("rect", { class: "region", x, y: g.waveTop, width, height: g.waveBottom - g.waveTop,
                               "data-slice": i }, regions);
    svg("title", {}, rect).textContent = `Slice ${i + 1}: ${seconds(region.start).toFixed(3)} s, ` +
      `${(seconds(region.length) * 1000).toFixed(1)} ms`;
    rect.addEventListener("click", () => audition(i));
    if (width >= 10)
      svg("text", { class: "number", x: x + 3, y: layout.numbers - 6 }, regions).textContent = String(i + 1);
  });

  const points = svg("g", {}, overlay);
  const height = g.waveBottom - g.waveTop;
  for (const point of loop.slices) {
    const active = state.cutting[point.index];
    const x = g.x(point.position);
    if (active)
      svg("line", { class: "cut", x1: x, x2: x, y1: layout.numbers - 18, y2: g.waveBottom }, points);
    const strength = Math.min(Math.max(point.strength ?? 0, 0), 1);
    const line = svg("line", {
      class: active ? "point active" : "point", x1: x, x2: x, y1: g.waveBottom,
      y2: g.waveBottom - Math.max(strength * height, 2), "data-index": point.index,
      "data-position": point.position, "data-strength": point.strength, "data-active": active,
    }, points);
    svg("title", {}, line).textContent = `Point ${point.index} at ${seconds(point.position).toFixed(4)} s, ` +
      `strength ${point.strength}`;
  }
  svg("line", { class: "head", x1: 0, x2: 0, y1: 0, y2: g.height, visibility: "hidden", id: "head" }, overlay);
  markPlaying();
}

function buildList() {
  elements.list.replaceChildren();
  state.regions.forEach((region, i) => {
    const item = document.createElement("li");
    item.dataset.slice = i;
    const play = document.createElement("button");
    play.type = "button";
    play.className = "play";
    play.textContent = `${i + 1}: ${seconds(region.start).toFixed(3)} s, ` +
      `${(seconds(region.length) * 1000).toFixed(0)} ms`;
    play.setAttribute("aria-label", `Play slice ${i + 1}`);
    if (i < 10) play.setAttribute("aria-keyshortcuts", String((i + 1) % 10));
    play.addEventListener("click", () => audition(i));
    const save = document.createElement("button");
    save.type = "button";
    save.className = "download";
    save.textContent = "WAV";
    save.setAttribute("aria-label", `Download slice ${i + 1} as WAV`);
    save.addEventListener("click", () => downloadSlice(i));
    item.append(play, save);
    elements.list.append(item);
  });
}

// ---- Sensitivity ----

function applySensitivity(sensitivity, text) {
  stop();
  state.sensitivity = sensitivity;
  state.cutting = cuttingAt(sensitivity);
  state.regions = regionsAt(state.cutting);
  state.selected = -1;
  const active = state.cutting.filter(Boolean).length;
  elements.value.textContent = text;
  elements.count.dataset.active = active;
  elements.count.dataset.slices = state.regions.length;
  const rule = sensitivity > 0 ? `cuts at strength \u2265 ${threshold(sensitivity).toFixed(3)}` : "nothing cuts";
  elements.count.textContent = `${active} of ${loop.slices.length} points active (${rule}), ` +
    `${state.regions.length} ${state.regions.length === 1 ? "slice" : "slices"}`;
  elements.command.textContent = commandLine(text);
  drawOverlay();
  buildList();
}

// ---- Playback ----

function context() {
  if (!state.context) {
    // At the loop's own rate the buffers play without resampling in the page.
    try {
      state.context = new AudioContext({ sampleRate: loop.sampleRate });
    } catch (error) {
      state.context = new AudioContext();
    }
  }
  if (state.context.state === "suspended")
    state.context.resume().catch((error) => (elements.status.textContent = `Audio is unavailable: ${error.message}`));
  return state.context;
}

function bufferOf(start, length) {
  const audioContext = context();
  const buffer = audioContext.createBuffer(audio.channels.length, length, loop.sampleRate);
  audio.channels.forEach((samples, c) => buffer.copyToChannel(samples.subarray(start, start + length), c));
  return buffer;
}

function play(start, length, repeat, buffer) {
  stop();
  const audioContext = context();
  const node = audioContext.createBufferSource();
  node.buffer = buffer;
  node.loop = repeat;
  node.connect(audioContext.destination);
  node.onended = () => {
    if (state.playing && state.playing.node === node) stop();
  };
  node.start();
  state.playing = { node, start, length, repeat, began: audioContext.currentTime };
  elements.play.textContent = "Stop";
  state.animation = requestAnimationFrame(moveHead);
}

function stop() {
  if (state.playing) {
    const node = state.playing.node;
    state.playing = null;
    node.onended = null;
    node.stop();
    node.disconnect();
  }
  cancelAnimationFrame(state.animation);
  elements.play.textContent = "Play loop";
  const head = document.getElementById("head");
  if (head) head.setAttribute("visibility", "hidden");
  markPlaying();
}

function audition(index) {
  const region = state.regions[index];
  if (!region) return;
  state.selected = index;
  play(region.start, region.length, false, bufferOf(region.start, region.length));
}

function togglePlay() {
  if (state.playing && state.playing.repeat) {
    stop();
    return;
  }
  if (!state.loopBuffer) state.loopBuffer = bufferOf(0, loop.frames);
  play(0, loop.frames, true, state.loopBuffer);
}

function headFrame() {
  const playing = state.playing;
  const elapsed = Math.max(0, (state.context.currentTime - playing.began) * loop.sampleRate);
  const offset = playing.repeat ? elapsed % playing.length : Math.min(elapsed, playing.length - 1);
  return playing.start + Math.floor(offset);
}

function moveHead() {
  if (!state.playing) return;
  const frame = headFrame();
  const head = document.getElementById("head");
  const x = geometry().x(frame);
  head.setAttribute("x1", x);
  head.setAttribute("x2", x);
  head.setAttribute("visibility", "visible");
  markPlaying(state.regions.findIndex((region) => frame >= region.start && frame < region.start + region.length));
  state.animation = requestAnimationFrame(moveHead);
}

// Highlights the slice under the play head and the selected one, in the picture and the list.
function markPlaying(playingIndex = -1) {
  for (const element of [...elements.overlay.querySelectorAll(".region"), ...elements.list.children]) {
    const index = Number(element.dataset.slice);
    element.classList.toggle("playing", index === playingIndex);
    element.classList.toggle("selected", index === state.selected);
  }
}

// ---- WAV files made in the page ----

// 32-bit float WAV, the tool's own export format, so a slice saved here holds exactly the
// samples `kelvora export` writes for it.
function floatWav(start, length) {
  const channels = audio.channels.length;
  const dataBytes = length * channels * 4;
  const bytes = new ArrayBuffer(58 + dataBytes);
  const view = new DataView(bytes);
  const text = (at, value) => [...value].forEach((c, i) => view.setUint8(at + i, c.charCodeAt(0)));
  text(0, "RIFF");
  view.setUint32(4, 50 + dataBytes, true);
  text(8, "WAVEfmt ");
  view.setUint32(16, 18, true);
  view.setUint16(20, 3, true);
  view.setUint16(22, channels, true);
  view.setUint32(24, loop.sampleRate, true);
  view.setUint32(28, loop.sampleRate * channels * 4, true);
  view.setUint16(32, channels * 4, true);
  view.setUint16(34, 32, true);
  view.setUint16(36, 0, true);
  text(38, "fact");
  view.setUint32(42, 4, true);
  view.setUint32(46, length, true);
  text(50, "data");
  view.setUint32(54, dataBytes, true);
  let offset = 58;
  for (let i = start; i < start + length; ++i)
    for (let c = 0; c < channels; ++c, offset += 4) view.setFloat32(offset, audio.channels[c][i], true);
  return bytes;
}

function save(name, bytes) {
  const url = URL.createObjectURL(new Blob([bytes], { type: "audio/wav" }));
  const link = document.createElement("a");
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

function downloadSlice(index) {
  const region = state.regions[index];
  save(sliceFileName(index), floatWav(region.start, region.length));
}

function downloadAll() {
  // One file at a time: browsers drop downloads started in the same instant.
  state.regions.forEach((region, i) => setTimeout(() => downloadSlice(i), 250 * i));
  elements.status.textContent = `Saving ${state.regions.length} slices`;
}

// ---- Wiring ----

function onKey(event) {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  const onButton = event.target instanceof HTMLButtonElement;
  if (event.key === " " && !onButton) {
    event.preventDefault();
    togglePlay();
  } else if (event.key === "Escape") {
    stop();
  } else if (/^[0-9]$/.test(event.key)) {
    const index = event.key === "0" ? 9 : Number(event.key) - 1;
    if (index < state.regions.length) {
      event.preventDefault();
      audition(index);
    }
  }
}

function start() {
  describeLoop();
  elements.slider.value = state.sensitivity;
  elements.slider.addEventListener("input", () =>
    applySensitivity(Number(elements.slider.value), elements.slider.value));
  document.getElementById("copy").addEventListener("click", () => {
    const selectInstead = () => {
      getSelection().selectAllChildren(elements.command);
      elements.status.textContent = "Press Ctrl+C to copy the selected command";
    };
    if (!navigator.clipboard) return selectInstead();
    navigator.clipboard.writeText(elements.command.textContent).then(
      () => (elements.status.textContent = "Command copied"), selectInstead);
  });
  elements.play.addEventListener("click", togglePlay);
  document.getElementById("download-all").addEventListener("click", downloadAll);
  document.addEventListener("keydown", onKey);
  new ResizeObserver(() => {
    drawWave();
    drawOverlay();
  }).observe(elements.view);
  applySensitivity(state.sensitivity, String(state.sensitivity));
}

start();
