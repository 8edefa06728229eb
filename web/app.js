// Recordings page: a calendar of one slot's recordings, a waveform player for the recording
// clicked and a download link. Everything shown comes from the recorder's web service:
//   /ws/slots                                  the slots for the selector
//   /ws/slot/N/calendarevents?start=..&end=..  the recordings of the displayed range
//   /ws/slot/N/getfile/ID/FILENAME             one recording (byte ranges for the player)
// jQuery, Bootstrap, FullCalendar and Moment.js are loaded by index.html as plain scripts; the
// waveform library is an ES module.
import TimelinePlugin from './assets/js/wavesurfer/plugins/timeline.esm.js';
import WaveSurfer from './assets/js/wavesurfer/wavesurfer.esm.js';

/* global $, FullCalendar, moment */

let currentSlot = '0';
let calendar = null;
let player = null;

function recordingUrl(event) {
  return '/ws/slot/' + currentSlot + '/getfile/' + event.id + '/' +
      encodeURIComponent(event.extendedProps.filename);
}

// The start of a recording plus a position in seconds.
function timeInRecording(event, seconds) {
  return moment(event.start).add(seconds, 'seconds');
}

function switchToSlot(slot) {
  for (const source of calendar.getEventSources()) {
    source.remove();
  }
  currentSlot = String(slot);
  calendar.addEventSource('/ws/slot/' + currentSlot + '/calendarevents');
  calendar.refetchEvents();
}

function createPlayer(event) {
  const wavesurfer = WaveSurfer.create({
    container: '#playerWaveform',
    waveColor: 'blue',
    progressColor: 'lightblue',
    backend: 'MediaElement',
    // The waveform is drawn from one download of the file; the media element that plays it
    // fetches the file itself, in byte ranges, instead of playing that copy (a type the element
    // cannot play keeps it on the URL).
    blobMimeType: 'application/octet-stream',
    plugins: [
      TimelinePlugin.create({
        container: '#playerWaveformTimeline',
        formatTimeCallback: (seconds) => timeInRecording(event, seconds).format('LT'),
      }),
    ],
  });

  wavesurfer.on('loading', (percent) => {
    $('#playerLoadingLabel')
        .text(percent < 100 ? 'Downloading... ' + percent + '%' : 'Decoding...');
  });
  wavesurfer.on('ready', () => {
    $('#playerLoading').hide();
    $('#playerPosition').text('').show();
    $('#playButton').prop('disabled', false);
  });
  wavesurfer.on('play', () => {
    $('#playButton').prop('disabled', true);
    $('#pauseButton').prop('disabled', false);
  });
  const stopped = () => {
    $('#playButton').prop('disabled', false);
    $('#pauseButton').prop('disabled', true);
  };
  wavesurfer.on('pause', stopped);
  wavesurfer.on('finish', stopped);
  const showPosition = (seconds) => {
    $('#playerPosition').text(timeInRecording(event, seconds).format('LTS'));
  };
  wavesurfer.on('audioprocess', showPosition);
  wavesurfer.on('seeking', showPosition);
  return wavesurfer;
}

function openRecording(event) {
  const url = recordingUrl(event);
  $('#playerTitle').text(moment(event.start).format('LLLL'));
  $('#playerDownloadButton').attr('href', url);
  if (player) {
    player.destroy();
  }
  player = createPlayer(event);

  $('#playerLoadingLabel').text('');
  $('#playerLoading').show();
  $('#playerPosition').hide();
  $('#playButton').prop('disabled', true);
  $('#pauseButton').prop('disabled', true);
  $('#playerModal').modal('show');
  // A failed download leaves the spinner in place; the page reports nothing of its own.
  player.load(url).catch(() => {});
}

$(function() {
  $.getJSON('/ws/slots', (slots) => {
    for (const slot of slots) {
      $('#slotselector').append($('<option>').val(slot.ID).text(slot.Name));
    }
  });

  calendar = new FullCalendar.Calendar(document.getElementById('calendar'), {
    plugins: ['dayGrid', 'timeGrid', 'list', 'bootstrap'],
    themeSystem: 'bootstrap',
    defaultView: 'list',
    header: {
      left: 'prev,next today',
      center: 'title',
      right: 'timeGridWeek,timeGridDay,list',
    },
    allDaySlot: false,
    eventClick: (info) => {
      info.jsEvent.preventDefault();
      openRecording(info.event);
    },
  });
  calendar.render();
  switchToSlot('0');

  $('#slotselector').on('change', function() {
    switchToSlot($(this).val());
  });
  $('#playButton').on('click', () => player && player.play());
  $('#pauseButton').on('click', () => player && player.pause());
  // Each recording gets a fresh player: closing the dialog ends the current one.
  $('#playerModal').on('hidden.bs.modal', () => {
    if (player) {
      player.destroy();
      player = null;
    }
  });
});
